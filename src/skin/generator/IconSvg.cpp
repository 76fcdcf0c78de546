// SPDX-License-Identifier: MIT
// The icon as SVG, written from the same constants as the pixels, so the scalable icon and
// the PNG renderings cannot drift apart. The one thing SVG draws differently is the gloss:
// its fall-off is a curve, given here as enough gradient stops that no step shows.
#include "Icon.h"

#include <QColor>
#include <QString>
#include <cmath>

namespace skingen {

namespace {

using namespace icon;

constexpr int kGlossStops = 16;

QString number(double v)
{
    return QString::number(v, 'g', 6);
}

QString hex(QRgb c)
{
    return QColor(c).name();
}

// White over the black face at opacity g / 255 shows as grey g.
QString glossStops()
{
    QString stops;
    for (int i = 0; i <= kGlossStops; ++i) {
        const double r = double(i) / kGlossStops;
        stops += QStringLiteral("      <stop offset=\"%1\" stop-color=\"#ffffff\" "
                                "stop-opacity=\"%2\"/>\n")
                     .arg(number(r), number(glossGrey(r * r) / 255));
    }
    return stops;
}

// Each row of the T keeps its own colour, as in the pixels: hard stops at every row.
QString letterStops()
{
    const QRect bounds = kLetter[0].united(kLetter[1]);
    QString stops;
    for (int row = bounds.top(); row <= bounds.bottom(); ++row) {
        const QString colour = hex(letterColour(row));
        for (const int edge : {row, row + 1}) {
            stops += QStringLiteral("      <stop offset=\"%1\" stop-color=\"%2\"/>\n")
                         .arg(number(double(edge - bounds.top()) / bounds.height()), colour);
        }
    }
    return stops;
}

QString letterRects()
{
    QString rects;
    for (const QRect& part : kLetter) {
        rects += QStringLiteral(
            "  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"url(#letter)\"/>\n")
                     .arg(part.x())
                     .arg(part.y())
                     .arg(part.width())
                     .arg(part.height());
    }
    return rects;
}

} // namespace

QByteArray drawIconSvg()
{
    const QRect letter = kLetter[0].united(kLetter[1]);
    QString svg;
    svg += QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" "
                          "viewBox=\"0 0 %1 %1\">\n")
               .arg(kGrid);
    svg += QStringLiteral("  <defs>\n"
                          "    <linearGradient id=\"rim\" gradientUnits=\"userSpaceOnUse\" "
                          "x1=\"0\" y1=\"0\" x2=\"0\" y2=\"%1\">\n"
                          "      <stop offset=\"0\" stop-color=\"%2\"/>\n"
                          "      <stop offset=\"1\" stop-color=\"%3\"/>\n"
                          "    </linearGradient>\n")
               .arg(QString::number(kGrid), hex(qRgb(kRimHigh, kRimHigh, kRimHigh)),
                   hex(qRgb(kRimLow, kRimLow, kRimLow)));
    svg += QStringLiteral("    <radialGradient id=\"gloss\" cx=\"0.5\" cy=\"0.5\" r=\"0.5\">\n")
        + glossStops() + QStringLiteral("    </radialGradient>\n");
    svg += QStringLiteral("    <linearGradient id=\"letter\" gradientUnits=\"userSpaceOnUse\" "
                          "x1=\"0\" y1=\"%1\" x2=\"0\" y2=\"%2\">\n")
               .arg(letter.top())
               .arg(letter.top() + letter.height())
        + letterStops() + QStringLiteral("    </linearGradient>\n");
    const QString centre = number(kCentre);
    svg += QStringLiteral("    <clipPath id=\"face\">\n"
                          "      <circle cx=\"%1\" cy=\"%1\" r=\"%2\"/>\n"
                          "    </clipPath>\n"
                          "  </defs>\n")
               .arg(centre, number(kFaceRadius));
    svg += QStringLiteral("  <circle cx=\"%1\" cy=\"%1\" r=\"%2\" fill=\"url(#rim)\"/>\n"
                          "  <circle cx=\"%1\" cy=\"%1\" r=\"%3\" fill=\"#000000\"/>\n")
               .arg(centre, number(kOuterRadius), number(kFaceRadius));
    svg += QStringLiteral("  <ellipse cx=\"%1\" cy=\"%2\" rx=\"%3\" ry=\"%4\" fill=\"url(#gloss)\" "
                          "clip-path=\"url(#face)\"/>\n")
               .arg(number(kGlossX), number(kGlossY), number(kGlossRx), number(kGlossRy));
    svg += letterRects();
    svg += QStringLiteral("</svg>\n");
    return svg.toUtf8();
}

} // namespace skingen
