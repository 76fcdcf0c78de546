// SPDX-License-Identifier: MIT
// Draws the skin's images and writes them as PNG files into the folder it is given, with
// the icon again at the icon theme's larger sizes and as SVG:
//
//     tandrel_skin_generator <folder>
//
// The build runs it and carries the skin in the program's resources; the icons are
// installed into the desktop's icon theme. It needs no display: QImage draws and writes
// PNG files without a GUI application.
#include "Background.h"
#include "Glyphs.h"
#include "Icon.h"
#include "Palette.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>
#include <cstdio>
#include <functional>

namespace {

constexpr skin::Glyph kGlyphs[] = {skin::Glyph::X, skin::Glyph::Play, skin::Glyph::Pause,
    skin::Glyph::Dot, skin::Glyph::QuestionMark, skin::Glyph::Folder};

bool fail(const QString& message)
{
    std::fprintf(stderr, "tandrel_skin_generator: %s\n", qPrintable(message));
    return false;
}

bool write(const QImage& image, const QDir& folder, const QString& name)
{
    const QString path = folder.filePath(name);
    return image.save(path, "PNG") || fail(QStringLiteral("cannot write %1").arg(path));
}

// Every image is checked against the colours the skin allows before it is written, so a
// slip in a table stops the build instead of reaching the window.
bool writeChecked(const QImage& image, const QDir& folder, const QString& name,
    const std::function<QString(const QImage&)>& check)
{
    const QString problem = check(image);
    if (!problem.isEmpty())
        return fail(name + QStringLiteral(": ") + problem);
    return write(image, folder, name);
}

// The larger renderings of the icon, for the desktop's icon theme beside the window's 32.
constexpr int kThemeIconSizes[] = {64, 128, 256};

bool writeText(const QByteArray& text, const QDir& folder, const QString& name)
{
    QFile file(folder.filePath(name));
    return (file.open(QIODevice::WriteOnly) && file.write(text) == text.size())
        || fail(QStringLiteral("cannot write %1").arg(file.fileName()));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fail(QStringLiteral("usage: tandrel_skin_generator <folder>"));
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(folder.path())) {
        fail(QStringLiteral("cannot create %1").arg(folder.path()));
        return 1;
    }

    bool ok = writeChecked(skingen::drawBackground(), folder, QStringLiteral("background.png"),
        skingen::checkBackgroundColours);
    for (const skin::Glyph glyph : kGlyphs) {
        ok = writeChecked(skingen::drawGlyph(glyph), folder,
                 QString::fromLatin1(skin::glyphFileName(glyph)), skingen::checkGlyphColours)
            && ok;
    }
    ok = writeChecked(
             skingen::drawIcon(), folder, QStringLiteral("icon.png"), skingen::checkIconColours)
        && ok;
    for (const int size : kThemeIconSizes) {
        ok = writeChecked(skingen::drawIcon(size), folder, QStringLiteral("icon-%1.png").arg(size),
                 skingen::checkIconColours)
            && ok;
    }
    ok = writeText(skingen::drawIconSvg(), folder, QStringLiteral("icon.svg")) && ok;
    return ok ? 0 : 1;
}
