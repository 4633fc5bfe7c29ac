#include "fms/ui/tfasttext.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QVarLengthArray>

#include <algorithm>

void TFastText::SetFont(const QFont& font)
{
    if (hasFont_ && font == font_) return;
    hasFont_ = true;
    font_ = font;
    const QFontMetricsF metrics(font);
    ascent_ = metrics.ascent();
    height_ = metrics.height();
    raw_ = QRawFont::fromFont(font);
    valid_ = raw_.isValid();
    if (!valid_) return;
    QChar chars[128];
    for (int c = 0; c < 128; ++c) chars[c] = QChar(c < 32 || c == 127 ? ' ' : c);
    int count = 128;
    valid_ = raw_.glyphIndexesForChars(chars, 128, glyph_.data(), &count) && count == 128;
    if (!valid_) return;
    QPointF advances[128];
    valid_ = raw_.advancesForGlyphIndexes(glyph_.data(), advances, 128);
    for (int c = 0; c < 128; ++c) {
        advance_[static_cast<std::size_t>(c)] = advances[c].x();
        // A printable character without a glyph of its own would draw the font's
        // "missing" box: leave such text to the ordinary path.
        if (c >= 32 && c < 127 && c != ' ' && glyph_[static_cast<std::size_t>(c)] == 0) valid_ = false;
    }
    const QChar ellipsis(0x2026);
    int one = 1;
    QPointF advance;
    if (raw_.supportsCharacter(ellipsis) && raw_.glyphIndexesForChars(&ellipsis, 1, &ellipsisGlyph_, &one) &&
        raw_.advancesForGlyphIndexes(&ellipsisGlyph_, &advance, 1))
        ellipsisAdvance_ = advance.x();
    else
        valid_ = false;
}

bool TFastText::Fast(const QString& text) const
{
    if (!valid_) return false;
    for (const QChar c : text)
        if (c.unicode() < 32 || c.unicode() >= 127) return false;
    return true;
}

qreal TFastText::Width(const QString& text) const
{
    if (!Fast(text)) return QFontMetricsF(font_).horizontalAdvance(text);
    qreal width = 0;
    for (const QChar c : text) width += advance_[c.unicode()];
    return width;
}

void TFastText::Run(QPainter& painter, const QPointF& origin, const QString& text, int count, bool ellipsis) const
{
    QVarLengthArray<quint32, 128> glyphs;
    QVarLengthArray<QPointF, 128> positions;
    qreal x = 0;
    for (int i = 0; i < count; ++i) {
        const char16_t c = text[i].unicode();
        glyphs.append(glyph_[c]);
        positions.append(QPointF(x, 0));
        x += advance_[c];
    }
    if (ellipsis) {
        glyphs.append(ellipsisGlyph_);
        positions.append(QPointF(x, 0));
    }
    if (glyphs.isEmpty()) return;
    QGlyphRun run;
    run.setRawFont(raw_);
    run.setRawData(glyphs.constData(), positions.constData(), static_cast<int>(glyphs.size()));
    painter.drawGlyphRun(origin, run);
}

void TFastText::Draw(QPainter& painter, const QPointF& origin, const QString& text) const
{
    if (!Fast(text)) {
        painter.setFont(font_);
        painter.drawText(origin, text);
        return;
    }
    Run(painter, origin, text, static_cast<int>(text.size()), false);
}

void TFastText::DrawCut(QPainter& painter, const QPointF& origin, const QString& text, qreal width) const
{
    if (!Fast(text)) {
        painter.setFont(font_);
        painter.drawText(origin, QFontMetricsF(font_).elidedText(text, Qt::ElideRight, width));
        return;
    }
    qreal x = 0;
    int fits = 0;
    for (; fits < text.size(); ++fits) {
        x += advance_[text[fits].unicode()];
        if (x > width) break;
    }
    if (fits == text.size()) {
        Run(painter, origin, text, fits, false);
        return;
    }
    // Cut: as many characters as leave room for the ellipsis.
    qreal used = 0;
    int keep = 0;
    while (keep < text.size() && used + advance_[text[keep].unicode()] + ellipsisAdvance_ <= width)
        used += advance_[text[keep++].unicode()];
    if (used + ellipsisAdvance_ <= width) Run(painter, origin, text, keep, true);
}
