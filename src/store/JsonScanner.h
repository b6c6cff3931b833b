#pragma once

#include <QByteArrayView>
#include <QString>

#include <string>

namespace verticora {

// A strict single-pass JSON reader (RFC 8259: UTF-8 text, no comments, no trailing
// commas, nothing after the value) that hands values to the caller as it meets them,
// without building a tree. Large files read this way cost a fraction of a document
// parse. Every method returns false at the first mistake; the caller then gives up. A
// byte-order mark in front of the text is skipped, as the document parser of the other
// files does: an editor that adds one must not make a file unreadable.
class JsonScanner {
public:
    explicit JsonScanner(QByteArrayView text) : m_at(text.data()), m_end(text.data() + text.size())
    {
        if (text.startsWith(QByteArrayView("\xEF\xBB\xBF")))
            m_at += 3;
    }

    // Only white space remains.
    [[nodiscard]] bool finished();

    [[nodiscard]] bool nextIs(char token); // the next value starts with `token` ('{', '[', '"', ...)

    [[nodiscard]] bool number(double& value);
    [[nodiscard]] bool string(std::string& utf8);
    [[nodiscard]] bool string(QString& text);
    [[nodiscard]] bool skipValue();

    // Reads an object; `member(key)` is called with each key and must read its value.
    template <typename Member>
    [[nodiscard]] bool object(Member&& member);
    // Reads an array; `element()` is called for each element and must read it.
    template <typename Element>
    [[nodiscard]] bool array(Element&& element);

private:
    static constexpr int maximumDepth = 512;

    void skipSpace();
    [[nodiscard]] bool take(char token);
    [[nodiscard]] bool literal(const char* word);
    [[nodiscard]] bool enter();
    void leave() { --m_depth; }

    const char* m_at;
    const char* m_end;
    int m_depth = 0;
    std::string m_key;
    std::string m_text;
};

template <typename Member>
bool JsonScanner::object(Member&& member)
{
    if (!take('{') || !enter())
        return false;
    if (take('}')) {
        leave();
        return true;
    }
    do {
        if (!string(m_key) || !take(':'))
            return false;
        const std::string key = m_key;
        if (!member(key))
            return false;
    } while (take(','));
    leave();
    return take('}');
}

template <typename Element>
bool JsonScanner::array(Element&& element)
{
    if (!take('[') || !enter())
        return false;
    if (take(']')) {
        leave();
        return true;
    }
    do {
        if (!element())
            return false;
    } while (take(','));
    leave();
    return take(']');
}

} // namespace verticora
