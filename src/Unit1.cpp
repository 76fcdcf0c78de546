// SPDX-License-Identifier: MIT
#include "Unit1.h"

#include "Branding.h"
#include "app/TApplication.h"
#include "controls/FloodFill.h"
#include "controls/OpenDialog.h"
#include "controls/ScreenGrid.h"
#include "controls/TImage.h"
#include "controls/TLabel.h"
#include "shell/DroppedFiles.h"
#include "shell/FilePath.h"
#include "shell/ShellLink.h"
#include "shell/ShellServices.h"
#include "skin/Skin.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

using controls::TImage;
using controls::TLabel;
using media::TMediaPlayer;

QString FormatTime(int milliseconds)
{
    // nearbyint rounds in the default mode, to nearest with ties to even: 2500 ms is 2 s.
    const auto seconds = static_cast<long long>(std::nearbyint(milliseconds / 1000.0));
    const auto minutes = static_cast<long long>(std::floor(seconds / 60.0));
    const long long rest = seconds - 60 * minutes;
    // Formatted on the stack: the tick makes this text every second, and the string itself
    // is then its only allocation (QString::asprintf makes three or four).
    char text[48];
    const int length = std::snprintf(text, sizeof text, "%lld:%02lld", minutes, rest);
    return QString::fromLatin1(text, length);
}

TBlackShape::TBlackShape(QWidget* parent, const QRect& geometry)
    : QWidget(parent)
{
    setGeometry(geometry);
}

void TBlackShape::paintEvent(QPaintEvent*)
{
    // On the skin's own grid, so that at any scale it hides exactly the pixels beneath it.
    QPainter painter(this);
    controls::fillOnGrid(painter, *this, rect(), Qt::black);
}

TShape::TShape(QWidget* parent, const QRect& geometry, QWidget* backCover)
    : TBlackShape(parent, geometry)
    , backCover_(backCover)
    , home_(geometry)
    , backHome_(backCover->geometry())
{
}

void TShape::setPosition(int p)
{
    position_ = p;
    if (Max == 0)
        return;
    // In 64 bits: p × 398 overflows 32 bits for files longer than about 90 minutes.
    const int full = home_.width();
    int width = full - int(std::floor(double(std::int64_t(p) * full) / Max));
    const int left = home_.x() + full - width;
    int backWidth = width - 1;
    int backLeft = left;
    if (p == 0) {
        backWidth = backHome_.width();
        backLeft = backHome_.x();
    } else if (p == Max) {
        backWidth = 0;
        backLeft = backCover_->x();
        width = 0;
    }
    // Past Max (a stale Max) both widths go negative: neither cover shows.
    setGeometry(left, y(), std::max(width, 0), height());
    backCover_->setGeometry(
        backLeft, backCover_->y(), std::max(backWidth, 0), backCover_->height());
}

// The fixed members of one slot.
struct TForm1::Slot {
    std::unique_ptr<TMediaPlayer>& player;
    bool& loaded;
    bool& otherLoaded;
    std::unique_ptr<TMediaPlayer>& otherPlayer;
    QString& shown;
    TLabel* lengthLabel;
    TLabel* folderLabel;
    TLabel* nameLabel;
};

TForm1::TForm1(const EngineFactory& makeEngine, shell::ShellServices& shell, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
    , shell_(shell)
{
    setFixedSize(490, 202);
    move(0, 0);
    if (auto* application = qobject_cast<app::TApplication*>(QCoreApplication::instance()))
        setWindowTitle(application->title());
    QPalette p = palette();
    p.setColor(QPalette::Window, skin::kWindowColour);
    setPalette(p);
    setAutoFillBackground(true);
    setFont(skin::tahoma(12));
    setWindowIcon(QIcon(QPixmap::fromImage(skin::icon())));

    MP1 = std::make_unique<TMediaPlayer>(makeEngine());
    MP2 = std::make_unique<TMediaPlayer>(makeEngine());
    CreateControls();
    BG->setPicture(skin::shapeWindow(*this, BG->picture()), false);
    BindEvents();
    FormCreate();
}

// The players close their files as the window goes.
TForm1::~TForm1() = default;

void TForm1::CreateControls()
{
    const QFont name = skin::tahoma(13, true);
    const QFont text = skin::tahoma(12);
    const QColor normal = skin::kNormalColour;
    const QColor accent = skin::kAccentColour;
    const QString none = QStringLiteral("--");
    const QString zero = QStringLiteral("0:00");
    auto glyph = [this](const QRect& r, skin::Glyph g) {
        auto* image = new TImage(this, r);
        image->setPicture(skin::glyphImage(g), true);
        return image;
    };

    BG = new TImage(this, {0, 0, 490, 202});
    BG->setPicture(skin::background(), false);
    Label3 = new TLabel(this, {24, 128, 325, 16}, name, accent, false, none);
    Label4 = new TLabel(this, {24, 152, 325, 14}, text, normal, false, none);
    Label5 = new TLabel(this, {24, 40, 325, 14}, text, normal, false, none);
    Label6 = new TLabel(this, {24, 64, 325, 16}, name, accent, false, none);
    Label7 = new TLabel(this, {432, 96, 25, 14}, text, accent, true, zero);
    Label2 = new TLabel(this, {432, 128, 25, 14}, text, normal, true, zero);
    Label1 = new TLabel(this, {432, 72, 25, 14}, text, normal, true, zero);
    Image1 = glyph({356, 35, 29, 21}, skin::Glyph::X);
    Image1->setHint(QStringLiteral("Move file to Recycle Bin"));
    Image2 = glyph({356, 65, 29, 21}, skin::Glyph::Play);
    Image3 = glyph({392, 65, 29, 21}, skin::Glyph::Pause);
    Image4 = glyph({356, 155, 29, 21}, skin::Glyph::X);
    Image4->setHint(QStringLiteral("Move file to Recycle Bin"));
    Image5 = glyph({356, 125, 29, 21}, skin::Glyph::Play);
    Image6 = glyph({392, 125, 29, 21}, skin::Glyph::Pause);
    PG2 = new TBlackShape(this, {24, 95, 395, 21});
    PG1 = new TShape(this, {23, 96, 398, 19}, PG2);
    Image7 = glyph({464, 1, 29, 21}, skin::Glyph::Dot);
    PGClick = new TImage(this, {23, 96, 398, 19});
    Image8 = glyph({-3, 1, 29, 21}, skin::Glyph::QuestionMark);
    Image9 = glyph({392, 35, 29, 21}, skin::Glyph::Folder);
    Image10 = glyph({392, 155, 29, 21}, skin::Glyph::Folder);
    CreatePanel();

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);

    // One dialog for both open buttons, so it starts with the file chosen last.
    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setFileMode(QFileDialog::AnyFile);
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
    OpenDialog1->setOption(QFileDialog::DontConfirmOverwrite);
    OpenDialog1->setSizeGripEnabled(true);
}

void TForm1::CreatePanel()
{
    const QFont text = skin::tahoma(12);
    const QColor normal = skin::kNormalColour;
    Panel1 = new QWidget(this);
    Panel1->setGeometry(16, 168, 457, 150);
    Panel1->setAutoFillBackground(true);
    QPalette p = Panel1->palette();
    p.setColor(QPalette::Window, skin::kPanelColour);
    Panel1->setPalette(p);
    Panel1->hide();
    auto label = [&](int left, int top, const QString& caption) {
        return new TLabel(Panel1, {left, top, 0, 0}, text, normal, true, caption);
    };
    Label8 = label(192, 16, QStringLiteral("Tandrel 1.1"));
    Label9 = label(96, 48, QString::fromUtf8(branding::kRightsLine));
    Label10 = label(96, 64, QStringLiteral("Free for personal and commercial use."));
    Label12 = label(
        56, 96, QStringLiteral("Quick tip: drag & drop 2 files onto the program to open them."));
    Label11 = label(200, 128, QString::fromUtf8(branding::kWebsiteDomain));
    Label11->setHint(QStringLiteral("Visit our website"));
    Label11->setCursor(Qt::PointingHandCursor);
    Panel1->installEventFilter(this);
}

// Every handler is bound through one guarding slot: an exception leaving it is shown in a
// box and goes no further into Qt's event code.
void TForm1::BindEvents()
{
    using app::guarded;
    connect(BG, &TImage::mouseDown, this,
        guarded([this](Qt::MouseButton b, QPoint pos) { BGMouseDown(b, BG->mapToGlobal(pos)); }));
    connect(BG, &TImage::mouseMove, this, guarded(this, &TForm1::DragWindowTo));
    connect(BG, &TImage::mouseUp, this, guarded([this](Qt::MouseButton b, QPoint) { EndDrag(b); }));
    for (const auto& [image, handler] :
        {std::pair {Image1, &TForm1::Image1Click}, {Image2, &TForm1::Image2Click},
            {Image3, &TForm1::Image3Click}, {Image4, &TForm1::Image4Click},
            {Image5, &TForm1::Image5Click}, {Image6, &TForm1::Image6Click},
            {Image7, &TForm1::Image7Click}, {Image8, &TForm1::Image8Click},
            {Image9, &TForm1::Image9Click}, {Image10, &TForm1::Image10Click}})
        connect(image, &TImage::click, this, guarded(this, handler));
    for (TImage* image :
        {Image1, Image2, Image3, Image4, Image5, Image6, Image7, Image8, Image9, Image10})
        connect(
            image, &TImage::mouseDown, this, guarded([this, image] { Image1MouseDown(image); }));
    for (TImage* image : {Image1, Image9, Image10})
        connect(image, &TImage::mouseUp, this, guarded([this, image] { Image1MouseUp(image); }));
    connect(Image4, &TImage::mouseUp, this, guarded(this, &TForm1::Image4MouseUp));
    connect(Image8, &TImage::mouseUp, this, guarded(this, &TForm1::Image8MouseUp));
    connect(PGClick, &TImage::mouseDown, this,
        guarded([this](Qt::MouseButton, QPoint pos) { PGClickMouseDown(pos.x()); }));
    connect(Timer1, &QTimer::timeout, this, guarded([this] { Timer1Timer(); }));
    connect(Label11, &TLabel::click, this, guarded(this, &TForm1::Label11Click));
    connect(Label11, &TLabel::mouseEnter, this, guarded(this, &TForm1::Label11MouseEnter));
    connect(Label11, &TLabel::mouseLeave, this, guarded(this, &TForm1::Label11MouseLeave));
}

void TForm1::FormCreate()
{
    setAcceptDrops(true);
    Panel1->move(Panel1->x(), 32);
    TopLoaded = false;
    BottomLoaded = false;
}

void TForm1::BGMouseDown(Qt::MouseButton button, QPoint globalPos)
{
    // Any button on the background drags the window, as its caption would if it had one,
    // until that button is released. On X11 the window manager's move follows the left
    // button only: started from another button it outlives the release and the window
    // keeps following the pointer (seen under openbox), so the others move it by hand. A
    // Wayland compositor ends its move at the release of any button, and only it can move
    // the window there.
    if (dragging_)
        return;
    const bool systemMoveEnds = button == Qt::LeftButton
        || !QGuiApplication::platformName().startsWith(QLatin1String("xcb"));
    QWindow* window = windowHandle();
    if (systemMoveEnds && window && window->startSystemMove())
        return;
    dragging_ = true;
    dragButton_ = button;
    dragStart_ = globalPos;
    windowStart_ = pos();
}

void TForm1::EndDrag(Qt::MouseButton button)
{
    if (button == dragButton_)
        dragging_ = false;
}

void TForm1::DragWindowTo(QPoint globalPos)
{
    if (dragging_)
        move(windowStart_ + (globalPos - dragStart_));
}

void TForm1::Image7Click()
{
    close();
}

void TForm1::Image9Click()
{
    if (const auto chosen = controls::runOpenDialog(*OpenDialog1))
        OpenTopFile(*chosen);
}

void TForm1::Image10Click()
{
    if (const auto chosen = controls::runOpenDialog(*OpenDialog1))
        OpenBottomFile(*chosen);
}

QString TForm1::SongTime(TMediaPlayer& player)
{
    return FormatTime(player.Length());
}

QString TForm1::DecodeLNK(const QString& path)
{
    // A shortcut is known by its extension alone: the text after the last dot, provided no
    // folder separator follows that dot, compared in ASCII upper case.
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || path.indexOf(QLatin1Char('/'), dot) >= 0)
        return path;
    const QString ext = path.mid(dot);
    if (ext.toLatin1().toUpper() != QByteArrayLiteral(".LNK"))
        return path;
    const QByteArray target
        = QByteArray::fromStdString(shell::resolveShortcut(QFile::encodeName(path).toStdString()));
    return QFile::decodeName(target);
}

TForm1::Slot TForm1::TopSlot()
{
    return {MP1, TopLoaded, BottomLoaded, MP2, topShown_, Label1, Label5, Label6};
}

TForm1::Slot TForm1::BottomSlot()
{
    return {MP2, BottomLoaded, TopLoaded, MP1, bottomShown_, Label2, Label4, Label3};
}

void TForm1::OpenTopFile(const QString& path)
{
    OpenIntoSlot(TopSlot(), path);
}

void TForm1::OpenBottomFile(const QString& path)
{
    OpenIntoSlot(BottomSlot(), path);
}

void TForm1::OpenIntoSlot(const Slot& slot, const QString& path)
{
    const QString resolved = DecodeLNK(path);
    slot.player->FileName = resolved;
    // A failed open leaves here: the labels, the flag, the current slot and Max stay.
    slot.player->Open();
    slot.shown = slot.player->FileName;
    slot.lengthLabel->setCaption(SongTime(*slot.player));
    slot.folderLabel->setCaption(shell::extractFilePath(slot.player->FileName));
    slot.nameLabel->setCaption(shell::extractFileName(slot.player->FileName));
    slot.nameLabel->setHint(slot.nameLabel->caption());
    slot.loaded = true;
    CurrentPlayer = slot.player.get();
    // The bar spans the longer of the two files. A loaded slot whose player was closed by a
    // move to the trash has no length to offer; the bar then follows the file just opened
    // rather than failing an open that has already succeeded.
    if (slot.otherLoaded && slot.otherPlayer->isOpen()) {
        const int other = slot.otherPlayer->Length();
        PG1->Max = std::max(other, slot.player->Length());
    } else {
        PG1->Max = slot.player->Length();
    }
}

// Lighting repaints the glyph's own bitmap: everything connected to either seed point,
// bounded by the white ground, takes the colour. A seed on white paints nothing, so a glyph
// lights only in the parts that hold a seed.
void TForm1::Recolour(TImage* image, const QColor& colour)
{
    const QRgb white = qRgb(255, 255, 255);
    controls::borderFloodFill(image->picture(), {12, 9}, white, colour.rgb());
    controls::borderFloodFill(image->picture(), {18, 13}, white, colour.rgb());
    image->update();
}

void TForm1::Image1MouseDown(TImage* sender)
{
    Recolour(sender, skin::kAccentColour);
}

void TForm1::DisableButton(TImage* image)
{
    Recolour(image, skin::kNormalColour);
}

void TForm1::Image1MouseUp(TImage* sender)
{
    DisableButton(sender);
}

void TForm1::Image4MouseUp()
{
    DisableButton(Image4);
}

void TForm1::Image8MouseUp()
{
    DisableButton(Image8);
}

// The four transport buttons act as one group: the one used last stays lit (its press lit
// it), the other three go back to normal. A slot never loaded ignores its buttons; a player
// action that raises leaves the current slot and the glyphs as they were.
void TForm1::Transport(bool loaded, void (TMediaPlayer::*action)(),
    std::unique_ptr<TMediaPlayer>& player, std::initializer_list<TImage*> restore)
{
    if (!loaded)
        return;
    ((*player).*action)();
    CurrentPlayer = player.get();
    for (TImage* image : restore)
        DisableButton(image);
}

void TForm1::Image2Click()
{
    Transport(TopLoaded, &TMediaPlayer::Play, MP1, {Image6, Image5, Image3});
}

void TForm1::Image3Click()
{
    Transport(TopLoaded, &TMediaPlayer::Pause, MP1, {Image6, Image2, Image5});
}

void TForm1::Image5Click()
{
    Transport(BottomLoaded, &TMediaPlayer::Play, MP2, {Image6, Image2, Image3});
}

void TForm1::Image6Click()
{
    Transport(BottomLoaded, &TMediaPlayer::Pause, MP2, {Image5, Image2, Image3});
}

// Nothing to follow before a length is known or while the current player has nothing open
// (a failed first open of a drop, or both players closed by a move to the trash).
bool TForm1::CanFollowCurrentPlayer() const
{
    return PG1->Max != 0 && CurrentPlayer && CurrentPlayer->isOpen();
}

// Every loaded slot goes to the clicked moment, so the same passage can be heard from each.
// Only the current slot plays on, and only if it was playing: a seek leaves a player stopped.
void TForm1::PGClickMouseDown(int x)
{
    if (!CanFollowCurrentPlayer())
        return;
    const bool wasPlaying = CurrentPlayer->Mode() == media::TMPModes::mpPlaying;
    // In 64 bits: x × Max overflows 32 bits for files longer than about 90 minutes.
    PG1->setPosition(int(std::ceil(double(std::int64_t(x) * PG1->Max) / PGClick->width())));
    if (TopLoaded)
        MP1->setPosition(PG1->Position());
    if (BottomLoaded)
        MP2->setPosition(PG1->Position());
    if (wasPlaying)
        CurrentPlayer->Play();
}

void TForm1::Timer1Timer()
{
    if (!CanFollowCurrentPlayer())
        return;
    Label7->setCaption(FormatTime(CurrentPlayer->Position()));
    PG1->setPosition(CurrentPlayer->Position());
}

// A drop only ever reads the files: it is a copy, whatever the source proposes. Answered as
// a move, a file manager would take the files as moved and may remove the originals.
void TForm1::dragEnterEvent(QDragEnterEvent* event)
{
    if (!event->mimeData()->hasUrls())
        return;
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void TForm1::dragMoveEvent(QDragMoveEvent* event)
{
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

// The drop is answered at once and its files are opened just after, so the program that
// dragged them is not kept waiting by an open or a message box.
void TForm1::dropEvent(QDropEvent* event)
{
    const QStringList files = shell::droppedFiles(*event->mimeData());
    event->setDropAction(Qt::CopyAction);
    event->accept();
    QTimer::singleShot(0, this, app::guarded([this, files] { AcceptFiles(files); }));
}

void TForm1::AcceptFiles(const QStringList& files)
{
    if (files.size() != 2) {
        shell_.showMessage(this, QString(), QStringLiteral("Please drop 2 files"));
        return;
    }
    CurrentPlayer = MP1.get();
    // A drop while the tick runs keeps its period.
    if (!Timer1->isActive())
        Timer1->start();
    OpenTopFile(files[0]);
    OpenBottomFile(files[1]);
}

// Both players let go of their files first, so that no file is held open while it moves.
int TForm1::MoveToRecycle(const QString& path)
{
    MP1->Close();
    MP2->Close();
    Timer1->stop();
    if (path.isEmpty())
        return 0;
    const std::optional<QString> why = shell_.moveToTrash(path);
    if (!why)
        return 0;
    // A failure, shown as every other is: the file stays, and so does its name.
    throw std::runtime_error(
        QStringLiteral("Could not move \"%1\" to the trash: %2").arg(path, *why).toStdString());
}

// An X disposes of the file the other slot shows. When that slot never opened a file
// nothing is moved; when the move fails the file stays, and so does its name.
void TForm1::RecycleShownFile(bool armed, QString& shownFile, TLabel* nameLabel)
{
    if (!armed)
        return;
    if (MoveToRecycle(shownFile) != 0)
        return;
    shownFile.clear();
    nameLabel->setCaption(QStringLiteral("--"));
}

void TForm1::Image1Click()
{
    RecycleShownFile(TopLoaded, bottomShown_, Label3);
}

void TForm1::Image4Click()
{
    RecycleShownFile(BottomLoaded, topShown_, Label6);
}

void TForm1::Image8Click()
{
    Panel1->show();
    Panel1->move(16, 32);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    // A left click on the panel's own area (its labels take their own clicks) hides it.
    if (watched == Panel1 && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton
            && Panel1->rect().contains(mouse->position().toPoint()))
            app::runGuarded([this] { Panel1Click(); });
        return true;
    }
    if (watched == Panel1 && event->type() == QEvent::MouseButtonPress)
        return true;
    return QWidget::eventFilter(watched, event);
}

void TForm1::Panel1Click()
{
    Panel1->hide();
}

void TForm1::Label11Click()
{
    shell_.openUrl(
        QUrl(QStringLiteral("https://%1/en/").arg(QString::fromUtf8(branding::kWebsiteDomain))));
}

void TForm1::Label11MouseEnter()
{
    Label11->setColor(skin::kAccentColour);
}

void TForm1::Label11MouseLeave()
{
    Label11->setColor(skin::kNormalColour);
}
