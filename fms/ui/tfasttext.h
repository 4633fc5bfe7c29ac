#pragma once
// Cheap text for lists and plots that repaint several times a second: a line of
// printable ASCII is drawn as a run of glyphs looked up in a table made once per font
// (glyph and advance of each character), so that painting it does not lay out and
// shape the text again. Lines with any other character, or fonts whose glyphs cannot
// be looked up, take QPainter's ordinary text path. Characters are placed by their
// advances without kerning, which the monospaced and tabular texts painted with it
// (identifiers, hex bytes, numbers, group names) do not use.
//
// Made for the frame trace's list, whose cells it paints; the plots draw their axis
// labels and legends with it too.

#include <QFont>
#include <QGlyphRun>
#include <QRawFont>
#include <QString>

#include <array>
#include <cstdint>

class QPainter;

class TFastText {
public:
    // For painting in font; a later call with another font makes the table again.
    void SetFont(const QFont& font);
    // Width of text in pixels, as Draw paints it.
    qreal Width(const QString& text) const;
    // Draws text with its baseline's left end at origin.
    void Draw(QPainter& painter, const QPointF& origin, const QString& text) const;
    // Draws text inside width pixels from origin, cut with "…" when wider.
    void DrawCut(QPainter& painter, const QPointF& origin, const QString& text, qreal width) const;
    qreal Ascent() const { return ascent_; }
    qreal Height() const { return height_; }

private:
    // True when every character of text has a glyph in the table.
    bool Fast(const QString& text) const;
    void Run(QPainter& painter, const QPointF& origin, const QString& text, int count, bool ellipsis) const;

    QFont font_;
    bool valid_ = false;
    QRawFont raw_;
    std::array<quint32, 128> glyph_{};
    std::array<qreal, 128> advance_{};
    quint32 ellipsisGlyph_ = 0;
    qreal ellipsisAdvance_ = 0;
    qreal ascent_ = 0;
    qreal height_ = 0;
    bool hasFont_ = false;
};
