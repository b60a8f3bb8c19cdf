// The edit boxes' text model: glyph line, caret, scrolling, keys, value.
#include "controls/qvedittext.h"

#include <utf8.h>

#include <climits>
#include <iterator>

namespace {

constexpr char32_t replacementCharacter = 0xFFFD;

bool isDigit(char32_t c)
{
    return c >= U'0' && c <= U'9';
}

}  // namespace

// ------------------------------------------------------------ text readings

std::u32string qvDecodeUtf8(std::string_view text)
{
    std::string valid;
    utf8::replace_invalid(text.begin(), text.end(), std::back_inserter(valid), replacementCharacter);
    std::u32string result;
    utf8::utf8to32(valid.begin(), valid.end(), std::back_inserter(result));
    return result;
}

std::u32string qvDecodeUtf16(std::u16string_view text)
{
    std::u32string result;
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            result.push_back(0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
            ++i;
        } else if (high || low) {
            result.push_back(replacementCharacter);
        } else {
            result.push_back(unit);
        }
    }
    return result;
}

std::string qvEncodeUtf8(char16_t code)
{
    std::string result;
    // A lone surrogate is no code point; its name is the replacement character.
    const char32_t point = (code >= 0xD800 && code <= 0xDFFF) ? replacementCharacter : char32_t(code);
    utf8::append(point, std::back_inserter(result));
    return result;
}

QvParsedNumber qvParseDecimal(std::u16string_view text)
{
    QvParsedNumber parsed;
    size_t i = 0;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        parsed.negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size()) return parsed;
    // Accumulate towards the sign, so INT_MIN itself reads without overflow.
    long long magnitude = 0;
    const long long limit = parsed.negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    bool overflow = false;
    for (; i < text.size(); ++i) {
        if (!isDigit(text[i])) return parsed;
        if (!overflow) {
            magnitude = magnitude * 10 + (text[i] - u'0');
            overflow = magnitude > limit;
        }
    }
    if (overflow) {
        parsed.reading = QvNumberReading::overflow;
        return parsed;
    }
    parsed.reading = QvNumberReading::number;
    parsed.value = static_cast<int>(parsed.negative ? -magnitude : magnitude);
    return parsed;
}

QvParsedNumber qvParseDecimal(std::string_view utf8)
{
    std::u16string units;
    for (char c : utf8) units.push_back(static_cast<unsigned char>(c));
    // Any byte outside ASCII already makes the text no number.
    return qvParseDecimal(units);
}

// --------------------------------------------------------------- QvEditText

void QvEditText::setFrame(float width, float scaleX)
{
    boxWidth = width;
    boxScaleX = scaleX;
}

void QvEditText::clear()
{
    glyphs.clear();
    caretAt = 0;
    advanceSum = 0.0f;
    origin = 0.0f;
}

bool QvEditText::admits(char32_t code) const
{
    if (readOnly || code > qvEditLastCodePoint) return false;
    if (maxLength > 0 && glyphCount() >= maxLength) return false;
    return !digitsOnly || isDigit(code);
}

std::u16string QvEditText::text() const
{
    std::u16string result;
    result.reserve(glyphs.size());
    for (const Glyph& g : glyphs) result.push_back(g.code);
    return result;
}

void QvEditText::moveTail(int first, float dx)
{
    for (size_t i = static_cast<size_t>(first); i < glyphs.size(); ++i) glyphs[i].offset += dx;
}

float QvEditText::removeAt(int i)
{
    const float advance = glyphs[static_cast<size_t>(i)].advance;
    moveTail(i + 1, -advance);
    glyphs.erase(glyphs.begin() + i);
    advanceSum -= advance;
    return advance;
}

// The new glyph stands at the caret; those right of it make room.
QvEditChange QvEditText::insert(char16_t code, float advance)
{
    QvEditChange change{.applied = true};
    moveTail(caretAt, advance);
    glyphs.insert(glyphs.begin() + caretAt, Glyph{code, advance, caret - origin});
    change.inserted = caretAt;
    ++caretAt;
    advanceSum += advance;
    if (!tickerMode && rightLimit(advance) <= caret) {
        origin -= advance;
    } else {
        caret += advance;
        change.caretMoved = true;
    }
    return change;
}

// While the text hangs off the left edge, it comes back right instead of the
// caret moving left.
QvEditChange QvEditText::backspace()
{
    if (glyphs.empty() || caretAt <= 0) return {};
    const float firstX = glyphX(0);
    QvEditChange change{.applied = true, .removed = caretAt - 1};
    const float advance = removeAt(caretAt - 1);
    --caretAt;
    if (firstX < leftEdge()) {
        origin += advance;
    } else {
        caret -= advance;
        change.caretMoved = true;
    }
    return change;
}

QvEditChange QvEditText::del()
{
    if (glyphs.empty() || caretAt >= glyphCount()) return {};
    const float firstX = glyphX(0);
    QvEditChange change{.applied = true, .removed = caretAt};
    const float advance = removeAt(caretAt);
    if (flavour == QvEditFlavour::extruded) {
        // The 3D box measures against the whole unscaled width and always
        // puts its bar back at the caret.
        if (firstX < -boxWidth) {
            origin += advance;
            caret += advance;
        }
        change.caretMoved = true;
    }
    return change;
}

QvEditChange QvEditText::left()
{
    if (glyphs.empty() || caretAt < 1) return {};
    const float advance = glyphs[static_cast<size_t>(caretAt - 1)].advance;
    --caretAt;
    QvEditChange change{.applied = true};
    const bool scrolls = flavour == QvEditFlavour::flat && !tickerMode;
    if (scrolls && -rightLimit(advance) >= caret) {
        origin += advance;
    } else {
        caret -= advance;
        change.caretMoved = true;
    }
    return change;
}

QvEditChange QvEditText::right()
{
    if (glyphs.empty() || caretAt >= glyphCount()) return {};
    const float advance = glyphs[static_cast<size_t>(caretAt)].advance;
    ++caretAt;
    QvEditChange change{.applied = true};
    const bool scrolls = flavour == QvEditFlavour::flat && !tickerMode;
    if (scrolls && rightLimit(advance) <= caret) {
        origin -= advance;
    } else {
        caret += advance;
        change.caretMoved = true;
    }
    return change;
}

bool QvEditText::wrap()
{
    if (!tickerMode || glyphs.empty() || glyphX(glyphCount() - 1) >= leftEdge()) return false;
    origin += boxWidth + advanceSum;
    return true;
}

// -------------------------------------------------------------- QvEditValue

int QvEditValue::clamp(int v) const
{
    if (minValue == maxValue) return v;
    if (v > maxValue) v = maxValue;
    if (v < minValue) v = minValue;
    return v;
}

int QvEditValue::entered(std::u16string_view text) const
{
    const QvParsedNumber parsed = qvParseDecimal(text);
    switch (parsed.reading) {
    case QvNumberReading::number:
        return parsed.value;
    case QvNumberReading::overflow:
        return parsed.negative ? minValue : maxValue;
    case QvNumberReading::notANumber:
        break;
    }
    return minValue;
}

const std::string* QvEditValue::step(int delta)
{
    const long long wanted = static_cast<long long>(value) + delta;
    if (wanted < INT_MIN || wanted > INT_MAX) return nullptr;
    const int next = clamp(static_cast<int>(wanted));
    if (next < 0 || static_cast<size_t>(next) >= enumNames.size()) return nullptr;
    value = next;
    return &enumNames[static_cast<size_t>(next)];
}
