// SPDX-License-Identifier: MIT
// A small window the end-to-end tests use as the other side of the desktop.
//   drag_source FILE...  a press on the window starts a drag of those files (file:// URLs,
//                        in the order given), offered as a copy; prints how the drag ended
//                        (1 copy, 2 move, 4 link), and quits a few seconds later.
//   drag_source --propose-move FILE...
//                        the same, offering copy, move and link and proposing a move, as a
//                        file manager does with Shift held.
//   drag_source --probe  a window that prints "press X Y" (screen coordinates) for every
//                        button press it receives, to show where a click landed.
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <cstdio>

namespace {

class Source : public QWidget {
public:
    Source(QStringList files, bool proposeMove)
        : files_(std::move(files))
        , proposeMove_(proposeMove)
    {
    }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (files_.isEmpty()) {
            const QPoint at = event->globalPosition().toPoint();
            std::printf("press %d %d\n", at.x(), at.y());
            std::fflush(stdout);
            return;
        }
        auto* drag = new QDrag(this);
        auto* data = new QMimeData;
        QList<QUrl> urls;
        for (const QString& file : files_)
            urls << QUrl::fromLocalFile(file);
        data->setUrls(urls);
        drag->setMimeData(data);
        const Qt::DropAction action = proposeMove_
            ? drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::MoveAction)
            : drag->exec(Qt::CopyAction);
        std::printf("drag ended %d\n", int(action));
        std::fflush(stdout);
        // The drop's target asks for the data after the drag has ended here: stay to give it.
        QTimer::singleShot(5000, qApp, &QApplication::quit);
    }

private:
    QStringList files_;
    bool proposeMove_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool probe = args.value(0) == QLatin1String("--probe");
    const bool proposeMove = args.value(0) == QLatin1String("--propose-move");
    if (proposeMove)
        args.removeFirst();
    Source window(probe ? QStringList {} : args, proposeMove);
    QPalette palette;
    palette.setColor(QPalette::Window, probe ? QColor(0, 90, 0) : QColor(0, 0, 160));
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    window.setWindowTitle(probe ? "probe" : "drag source");
    window.setGeometry(probe ? QRect(0, 0, 400, 300) : QRect(560, 300, 160, 120));
    window.show();
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
