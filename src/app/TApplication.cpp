// SPDX-License-Identifier: MIT
#include "app/TApplication.h"

#include "app/ErrorText.h"

#include <QMessageBox>
#include <QProxyStyle>
#include <QSettings>
#include <cstdio>

namespace app {

namespace {

// Tooltips come up after the mouse has rested half a second on a control.
class HintTimingStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
        QStyleHintReturn* data) const override
    {
        if (hint == SH_ToolTip_WakeUpDelay)
            return 500;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

} // namespace

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv)
    , title_(applicationTitle(QString::fromLocal8Bit(argc > 0 ? argv[0] : "")))
{
    setApplicationName(title_);
    // The program keeps nothing between runs. Qt's file dialog would read and write its
    // history, last folder and view in the user's QtProject.conf; its settings are given a
    // place that holds nothing and takes nothing.
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null"));
        QSettings::setPath(format, QSettings::SystemScope, QStringLiteral("/dev/null"));
    }
    setStyle(new HintTimingStyle);
    presenter_ = [](const QString& title, const QString& text) {
        // Owned by the active window: the program's other windows are disabled meanwhile.
        QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, activeWindow());
        box.setTextFormat(Qt::PlainText);
        box.setWindowModality(Qt::ApplicationModal);
        box.exec();
    };
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        showCurrentException();
        return true;
    }
}

void TApplication::showCurrentException() noexcept
{
    QString message = QStringLiteral("Unknown exception");
    try {
        throw;
    } catch (const std::exception& e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
    }
    if (auto* self = qobject_cast<TApplication*>(QCoreApplication::instance()))
        self->showError(message);
    else // no box to show it in: said on stderr rather than lost
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

void TApplication::showError(const QString& message) noexcept
{
    try {
        presenter_(title_, errorBoxText(message));
    } catch (...) {
        // The box itself failed (out of memory, most likely); there is nothing left to show
        // the failure with, and the program must go on.
    }
}

} // namespace app
