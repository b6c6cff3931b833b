#include "store/JsonScanner.h"

#include <charconv>
#include <cstring>

namespace verticora {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void appendUtf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out.push_back(char(code));
    } else if (code < 0x800) {
        out.push_back(char(0xC0 | (code >> 6)));
        out.push_back(char(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(char(0xE0 | (code >> 12)));
        out.push_back(char(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(char(0x80 | (code & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (code >> 18)));
        out.push_back(char(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(char(0x80 | (code & 0x3F)));
    }
}

// Length of the well-formed UTF-8 sequence starting at `at` (no overlong forms, no
// surrogates, nothing beyond U+10FFFF), 0 when it is not one.
int utf8SequenceLength(const unsigned char* at, const unsigned char* end)
{
    const unsigned char lead = *at;
    int length = 0;
    char32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (end - at < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        if ((at[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (at[i] & 0x3F);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    if (overlong || surrogate || code > 0x10FFFF)
        return 0;
    return length;
}

} // namespace

void JsonScanner::skipSpace()
{
    while (m_at < m_end && (*m_at == ' ' || *m_at == '\n' || *m_at == '\r' || *m_at == '\t'))
        ++m_at;
}

bool JsonScanner::finished()
{
    skipSpace();
    return m_at == m_end;
}

bool JsonScanner::nextIs(char token)
{
    skipSpace();
    return m_at < m_end && *m_at == token;
}

bool JsonScanner::take(char token)
{
    if (!nextIs(token))
        return false;
    ++m_at;
    return true;
}

bool JsonScanner::enter()
{
    return ++m_depth <= maximumDepth;
}

bool JsonScanner::literal(const char* word)
{
    const std::size_t length = std::strlen(word);
    if (std::size_t(m_end - m_at) < length || std::memcmp(m_at, word, length) != 0)
        return false;
    m_at += length;
    return true;
}

bool JsonScanner::number(double& value)
{
    skipSpace();
    const char* start = m_at;
    const char* at = m_at;
    if (at < m_end && *at == '-')
        ++at;
    if (at < m_end && *at == '0') {
        ++at;
    } else if (at < m_end && isDigit(*at)) {
        while (at < m_end && isDigit(*at))
            ++at;
    } else {
        return false;
    }
    if (at < m_end && *at == '.') {
        ++at;
        if (at == m_end || !isDigit(*at))
            return false;
        while (at < m_end && isDigit(*at))
            ++at;
    }
    bool negativeExponent = false;
    if (at < m_end && (*at == 'e' || *at == 'E')) {
        ++at;
        if (at < m_end && (*at == '+' || *at == '-'))
            negativeExponent = *at++ == '-';
        if (at == m_end || !isDigit(*at))
            return false;
        while (at < m_end && isDigit(*at))
            ++at;
    }
    const auto [end, error] = std::from_chars(start, at, value);
    if (end != at)
        return false;
    if (error == std::errc::result_out_of_range) {
        // Too large is an error; too small to represent is zero, as other readers take it.
        if (!negativeExponent)
            return false;
        value = *start == '-' ? -0.0 : 0.0;
    } else if (error != std::errc()) {
        return false;
    }
    m_at = at;
    return true;
}

bool JsonScanner::string(std::string& utf8)
{
    utf8.clear();
    if (!nextIs('"'))
        return false;
    const char* at = m_at + 1;
    while (true) {
        // Copy the plain run up to the next quote, backslash or control character.
        const char* run = at;
        while (at < m_end && *at != '"' && *at != '\\' && static_cast<unsigned char>(*at) >= 0x20) {
            if (static_cast<unsigned char>(*at) < 0x80) {
                ++at;
                continue;
            }
            const int length = utf8SequenceLength(reinterpret_cast<const unsigned char*>(at),
                                                  reinterpret_cast<const unsigned char*>(m_end));
            if (length == 0)
                return false;
            at += length;
        }
        utf8.append(run, std::size_t(at - run));
        if (at == m_end || static_cast<unsigned char>(*at) < 0x20)
            return false;
        if (*at == '"') {
            m_at = at + 1;
            return true;
        }
        // A backslash escape.
        if (++at == m_end)
            return false;
        const char escape = *at++;
        switch (escape) {
        case '"': utf8.push_back('"'); break;
        case '\\': utf8.push_back('\\'); break;
        case '/': utf8.push_back('/'); break;
        case 'b': utf8.push_back('\b'); break;
        case 'f': utf8.push_back('\f'); break;
        case 'n': utf8.push_back('\n'); break;
        case 'r': utf8.push_back('\r'); break;
        case 't': utf8.push_back('\t'); break;
        case 'u': {
            const auto readUnit = [&](char32_t& unit) {
                if (m_end - at < 4)
                    return false;
                unit = 0;
                for (int i = 0; i < 4; ++i) {
                    const int digit = hexValue(at[i]);
                    if (digit < 0)
                        return false;
                    unit = (unit << 4) | char32_t(digit);
                }
                at += 4;
                return true;
            };
            char32_t code = 0;
            if (!readUnit(code))
                return false;
            if (code >= 0xD800 && code <= 0xDBFF) {
                char32_t low = 0;
                if (m_end - at < 2 || at[0] != '\\' || at[1] != 'u')
                    return false;
                at += 2;
                if (!readUnit(low) || low < 0xDC00 || low > 0xDFFF)
                    return false;
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            } else if (code >= 0xDC00 && code <= 0xDFFF) {
                return false;
            }
            appendUtf8(utf8, code);
            break;
        }
        default:
            return false;
        }
    }
}

bool JsonScanner::string(QString& text)
{
    if (!string(m_text))
        return false;
    text = QString::fromUtf8(m_text.data(), qsizetype(m_text.size()));
    return true;
}

bool JsonScanner::skipValue()
{
    skipSpace();
    if (m_at == m_end)
        return false;
    switch (*m_at) {
    case '{':
        return object([this](const std::string&) { return skipValue(); });
    case '[':
        return array([this] { return skipValue(); });
    case '"':
        return string(m_text);
    case 't':
        return literal("true");
    case 'f':
        return literal("false");
    case 'n':
        return literal("null");
    default: {
        double ignored = 0;
        return number(ignored);
    }
    }
}

} // namespace verticora
