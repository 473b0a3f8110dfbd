#pragma once
// An item's value: always 8-bit text. Numbers are decimal text, text is UTF-8,
// and a run-time object is held as its full 64-bit address in decimal.
#include <QString>
#include <QtGlobal>
#include <string>
#include <type_traits>

class Value {
public:
    Value() = default;
    Value(const char* text)
        : m_text(text ? text : "")
    {
    }
    Value(const std::string& text)
        : m_text(text)
    {
    }
    Value(std::string&& text)
        : m_text(std::move(text))
    {
    }
    Value(const QString& text);
    Value(int n)
        : m_text(std::to_string(n))
    {
    }
    Value(unsigned int n)
        : m_text(std::to_string(n))
    {
    }
    Value(long n)
        : m_text(std::to_string(n))
    {
    }
    Value(unsigned long n)
        : m_text(std::to_string(n))
    {
    }
    Value(long long n)
        : m_text(std::to_string(n))
    {
    }
    Value(unsigned long long n)
        : m_text(std::to_string(n))
    {
    }
    // Any object pointer: the address as unsigned decimal text, all 64 bits.
    template <class T, class = std::enable_if_t<!std::is_same_v<std::remove_cv_t<T>, char>>>
    Value(T* object)
        : m_text(std::to_string(static_cast<unsigned long long>(reinterpret_cast<quintptr>(object))))
    {
    }

    const std::string& Text() const { return m_text; }
    bool operator==(const Value& other) const { return m_text == other.m_text; }

private:
    std::string m_text;
};
