// SPDX-License-Identifier: MIT
#pragma once

#include "media/MediaEngine.h"
#include "media/TMediaPlayer.h"

#include <QWidget>
#include <functional>
#include <initializer_list>
#include <memory>

class QFileDialog;
class QTimer;

namespace controls {
class TImage;
class TLabel;
}

namespace shell {
class ShellServices;
}

// Milliseconds as m:ss, seconds rounded half to even; no hours field (3 600 000 gives
// "60:00").
QString FormatTime(int milliseconds);

// A solid black rectangle.
class TBlackShape : public QWidget {
    Q_OBJECT
public:
    TBlackShape(QWidget* parent, const QRect& geometry);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The bar's front cover over the part of the trough not yet played. Writing Position moves
// it and the cover behind it so that the trough shows from its left end up to the position;
// Max is the length that maps to the full bar.
class TShape : public TBlackShape {
    Q_OBJECT
public:
    TShape(QWidget* parent, const QRect& geometry, QWidget* backCover);

    int Max = 0;
    int Position() const { return position_; }
    void setPosition(int p);

private:
    QWidget* backCover_;
    // Where both covers stand at position 0, as made: the rest of the bar is measured on it.
    QRect home_;
    QRect backHome_;
    int position_ = 0;
};

// The main window: two slots, each a player with its labels and buttons, and the bar.
class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Makes the engine behind each player: GStreamer for the program, a fake in tests.
    using EngineFactory = std::function<std::unique_ptr<media::MediaEngine>()>;

    TForm1(const EngineFactory& makeEngine, shell::ShellServices& shell, QWidget* parent = nullptr);
    ~TForm1() override;

    // Controls, in creation order (later ones are painted over earlier ones).
    controls::TImage* BG;
    controls::TLabel* Label3;
    controls::TLabel* Label4;
    controls::TLabel* Label5;
    controls::TLabel* Label6;
    controls::TLabel* Label7;
    controls::TLabel* Label2;
    controls::TLabel* Label1;
    controls::TImage* Image1;
    controls::TImage* Image2;
    controls::TImage* Image3;
    controls::TImage* Image4;
    controls::TImage* Image5;
    controls::TImage* Image6;
    TBlackShape* PG2;
    TShape* PG1;
    controls::TImage* Image7;
    controls::TImage* PGClick;
    controls::TImage* Image8;
    controls::TImage* Image9;
    controls::TImage* Image10;
    std::unique_ptr<media::TMediaPlayer> MP1;
    std::unique_ptr<media::TMediaPlayer> MP2;
    QWidget* Panel1;
    controls::TLabel* Label8;
    controls::TLabel* Label9;
    controls::TLabel* Label10;
    controls::TLabel* Label12;
    controls::TLabel* Label11;
    QTimer* Timer1;
    QFileDialog* OpenDialog1;

    // The slot whose player the tick and the bar follow: MP1, MP2 or none.
    media::TMediaPlayer* CurrentPlayer = nullptr;
    bool TopLoaded = false;
    bool BottomLoaded = false;

    void OpenTopFile(const QString& path);
    void OpenBottomFile(const QString& path);
    QString SongTime(media::TMediaPlayer& player);
    QString DecodeLNK(const QString& path);

    void FormCreate();
    void BGMouseDown(Qt::MouseButton button, QPoint globalPos);
    void Image7Click();
    void Image9Click();
    void Image10Click();

    // Glyph lighting: a press lights a button, DisableButton returns it to normal.
    void Image1MouseDown(controls::TImage* sender);
    void Image1MouseUp(controls::TImage* sender);
    void Image4MouseUp();
    void Image8MouseUp();
    void DisableButton(controls::TImage* image);

    // Transport: play or pause one slot and make it the current one.
    void Image2Click();
    void Image3Click();
    void Image5Click();
    void Image6Click();

    // The bar: a click seeks every loaded slot; the tick follows the current one.
    void PGClickMouseDown(int x);
    void Timer1Timer();

    // Two files dropped on the window open into the two slots.
    void AcceptFiles(const QStringList& files);

    // The X buttons: each moves the file the other slot shows to the trash.
    int MoveToRecycle(const QString& path);
    void Image1Click();
    void Image4Click();

    // The about panel and its link.
    void Image8Click();
    void Panel1Click();
    void Label11Click();
    void Label11MouseEnter();
    void Label11MouseLeave();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Slot;
    Slot TopSlot();
    Slot BottomSlot();
    void OpenIntoSlot(const Slot& slot, const QString& path);
    void CreateControls();
    void CreatePanel();
    void BindEvents();
    void DragWindowTo(QPoint globalPos);
    void EndDrag(Qt::MouseButton button);
    void Recolour(controls::TImage* image, const QColor& colour);
    void Transport(bool loaded, void (media::TMediaPlayer::*action)(),
        std::unique_ptr<media::TMediaPlayer>& player,
        std::initializer_list<controls::TImage*> restore);
    bool CanFollowCurrentPlayer() const;
    void RecycleShownFile(bool armed, QString& shownFile, controls::TLabel* nameLabel);

    shell::ShellServices& shell_;
    // The file each slot shows: the last one opened into it successfully. An X button
    // disposes of this, never of a path whose open failed.
    QString topShown_;
    QString bottomShown_;
    // The hand-made window move, used where the window system cannot move the window itself.
    bool dragging_ = false;
    Qt::MouseButton dragButton_ = Qt::NoButton; // the button whose release ends the move
    QPoint dragStart_;
    QPoint windowStart_;
};
