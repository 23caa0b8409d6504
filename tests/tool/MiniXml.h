// A small, strict XML reader for the tests: elements, attributes, text, entities, comments and
// the XML declaration. Anything not well-formed throws std::runtime_error with the offset.
#pragma once

#include <cctype>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace kvsdk::test {

struct XmlElement {
    std::string name;
    std::map<std::string, std::string> attributes;
    std::vector<XmlElement> children;
    std::string text;  // all character data directly inside, entities decoded

    std::string Attr(const std::string& key) const {
        const auto it = attributes.find(key);
        return it == attributes.end() ? std::string() : it->second;
    }
};

class XmlReader {
  public:
    static XmlElement Parse(const std::string& text) {
        XmlReader reader(text);
        reader.SkipMisc();
        XmlElement root = reader.Element();
        reader.SkipMisc();
        if (reader.m_pos != text.size()) reader.Fail("content after the root element");
        return root;
    }

  private:
    explicit XmlReader(const std::string& text) : m_text(text) {}

    [[noreturn]] void Fail(const std::string& what) const {
        throw std::runtime_error("XML: " + what + " at offset " + std::to_string(m_pos));
    }
    bool At(const char* s) const { return m_text.compare(m_pos, std::strlen(s), s) == 0; }
    void Expect(const char* s) {
        if (!At(s)) Fail(std::string("expected '") + s + "'");
        m_pos += std::strlen(s);
    }
    void SkipSpace() {
        while (m_pos < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_pos])))
            ++m_pos;
    }
    void SkipMisc() {
        for (;;) {
            SkipSpace();
            if (At("<?")) {
                const size_t end = m_text.find("?>", m_pos);
                if (end == std::string::npos) Fail("unterminated declaration");
                m_pos = end + 2;
            } else if (At("<!--")) {
                Comment();
            } else {
                return;
            }
        }
    }
    void Comment() {
        const size_t end = m_text.find("-->", m_pos + 4);
        if (end == std::string::npos) Fail("unterminated comment");
        m_pos = end + 3;
    }
    std::string Name() {
        const size_t start = m_pos;
        auto first = [](char c) {
            return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == ':';
        };
        auto rest = [&](char c) {
            return first(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '.';
        };
        if (m_pos >= m_text.size() || !first(m_text[m_pos])) Fail("expected a name");
        while (m_pos < m_text.size() && rest(m_text[m_pos])) ++m_pos;
        return m_text.substr(start, m_pos - start);
    }
    std::string Entity() {
        const size_t end = m_text.find(';', m_pos);
        if (end == std::string::npos || end - m_pos > 10) Fail("bad entity");
        const std::string name = m_text.substr(m_pos + 1, end - m_pos - 1);
        m_pos = end + 1;
        if (name == "amp") return "&";
        if (name == "lt") return "<";
        if (name == "gt") return ">";
        if (name == "quot") return "\"";
        if (name == "apos") return "'";
        if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            const unsigned long code = std::stoul(name.substr(hex ? 2 : 1), nullptr, hex ? 16 : 10);
            if (code < 0x80) return std::string(1, static_cast<char>(code));
            return "?";  // enough for the tests
        }
        Fail("unknown entity &" + name + ";");
    }
    XmlElement Element() {
        Expect("<");
        XmlElement element;
        element.name = Name();
        for (;;) {
            const size_t before = m_pos;
            SkipSpace();
            if (At("/>")) {
                m_pos += 2;
                return element;
            }
            if (At(">")) {
                ++m_pos;
                break;
            }
            if (m_pos == before) Fail("expected white space before an attribute");
            const std::string key = Name();
            SkipSpace();
            Expect("=");
            SkipSpace();
            if (m_pos >= m_text.size() || (m_text[m_pos] != '"' && m_text[m_pos] != '\'')) {
                Fail("attribute value not quoted");
            }
            const char quote = m_text[m_pos++];
            std::string value;
            while (m_pos < m_text.size() && m_text[m_pos] != quote) {
                if (m_text[m_pos] == '<') Fail("'<' in an attribute value");
                if (m_text[m_pos] == '&') {
                    value += Entity();
                } else {
                    value += m_text[m_pos++];
                }
            }
            Expect(quote == '"' ? "\"" : "'");
            if (!element.attributes.emplace(key, value).second)
                Fail("attribute given twice: " + key);
        }
        for (;;) {
            if (m_pos >= m_text.size()) Fail("element <" + element.name + "> not closed");
            if (At("</")) {
                m_pos += 2;
                if (Name() != element.name) Fail("end tag does not match <" + element.name + ">");
                SkipSpace();
                Expect(">");
                return element;
            }
            if (At("<!--")) {
                Comment();
            } else if (At("<")) {
                element.children.push_back(Element());
            } else if (At("&")) {
                element.text += Entity();
            } else {
                if (At("]]>")) Fail("']]>' in text");
                element.text += m_text[m_pos++];
            }
        }
    }

    const std::string& m_text;
    size_t m_pos = 0;
};

// Every element named 'name' in document order, the root included.
inline void CollectElements(const XmlElement& element, const std::string& name,
                            std::vector<const XmlElement*>& out) {
    if (element.name == name) out.push_back(&element);
    for (const XmlElement& child : element.children) CollectElements(child, name, out);
}

}  // namespace kvsdk::test
