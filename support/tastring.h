#pragma once
// The string type of all program code: 8-bit characters (UTF-8 on Linux, handled
// byte by byte), positions counted from 0, and the one number parser AsNum whose
// rules and messages the rest of the program relies on.

#include <cstdint>
#include <string>
#include <string_view>

class TAString {
public:
    // AsNum's "no default": errors are thrown instead of returning a default.
    static constexpr double NoDefault = -999999999999999.0;

    enum TNumMode { nmAuto = 0, nmDec = 1, nmHex = 2 };

    TAString() = default;
    TAString(const char* text) : s_(text ? text : "") {}       // NOLINT(google-explicit-constructor)
    TAString(std::string text) : s_(std::move(text)) {}         // NOLINT(google-explicit-constructor)
    TAString(std::string_view text) : s_(text) {}               // NOLINT(google-explicit-constructor)
    explicit TAString(int32_t value);                           // "%ld"
    explicit TAString(char c) : s_(1, c) {}
    // printf("%<width>.<precision>lf", value)
    TAString(double value, int width, int precision);
    virtual ~TAString() = default;
    TAString(const TAString&) = default;
    TAString(TAString&&) noexcept = default;
    TAString& operator=(const TAString&) = default;
    TAString& operator=(TAString&&) noexcept = default;
    virtual TAString* Clone() const { return new TAString(*this); }

    int Length() const { return static_cast<int>(s_.size()); }
    bool IsEmpty() const { return s_.empty(); }
    const char* c_str() const { return s_.c_str(); }
    const std::string& str() const { return s_; }
    // The byte at pos; 0 at or past the end (and before the start).
    char operator[](int pos) const;

    TAString& operator+=(const TAString& other) { s_ += other.s_; return *this; }
    TAString& operator+=(const char* text) { s_ += text ? text : ""; return *this; }
    TAString& operator+=(char c) { s_ += c; return *this; }
    friend TAString operator+(TAString a, const TAString& b) { a += b; return a; }
    friend TAString operator+(TAString a, const char* b) { a += b; return a; }
    friend TAString operator+(const char* a, const TAString& b) { TAString r(a); r += b; return r; }

    friend bool operator==(const TAString& a, const TAString& b) { return a.s_ == b.s_; }
    friend bool operator==(const TAString& a, const char* b) { return a.s_ == (b ? b : ""); }
    friend bool operator!=(const TAString& a, const TAString& b) { return !(a == b); }
    friend bool operator!=(const TAString& a, const char* b) { return !(a == b); }
    // Byte-wise on unsigned bytes.
    friend bool operator<(const TAString& a, const TAString& b) { return a.s_ < b.s_; }

    // First position of pattern in [from, end) (end -1 = whole length), or -1.
    int Find(const TAString& pattern, int from = 0, int end = -1) const;
    // As Find, but the length instead of -1 when not found.
    int FindOrLength(const TAString& pattern, int from = 0, int end = -1) const;
    // The characters present from pos for count (-1 = to the end).
    TAString SubString(int pos, int count = -1) const;
    // Cuts the text at pos; returns how many characters were removed.
    int Truncate(int pos);
    // Removes / replaces the first n occurrences (n < 0: all); returns how many.
    int Remove(const TAString& pattern, int n = 1);
    int Replace(const TAString& pattern, const TAString& with, int n = 1);
    void Insert(int pos, const TAString& text);

    // Words are runs of characters other than NUL, tab, LF, CR and space.
    int WordCount() const;
    TAString Word(int index) const;   // a missing word is empty

    // "*" matches the rest, "?" one character; 0 = match, else a signed ordering value.
    int WildCompare(const TAString& pattern) const;

    TAString& LfToCrLf();   // a CR before every LF that has none
    TAString& RemoveCr();   // every CR removed

    // "%ld" of value appended to base in brackets: IndexedName("Item", 1) = "Item[1]".
    static TAString Indexed(const TAString& base, int32_t index);
    static TAString Hex32(uint32_t value);   // "%08X"
    static TAString Hex16(uint16_t value);   // "%04X"
    static TAString Hex8(uint8_t value);     // "%02X"

    // Throws TBaseError("TAString::LoadFromFile", "FileNotFound").
    void LoadFromFile(const TAString& fileName, bool stripCr);
    // Throws TBaseError("TAString::SaveToFile", "PathNotFound").
    void SaveToFile(const TAString& fileName, bool addCr) const;

    // Every character of [from, to) is a hex digit (to -1 = the length); empty is true.
    bool IsHex(int from = 0, int to = -1) const;
    // At least one digit; otherwise only leading blanks/tabs, one leading sign, at most one ".".
    bool IsNumber(int from = 0, int to = -1) const;

    // Decimal or hexadecimal ("x1F", or any text in mode nmHex) with a range check.
    // Errors (operation "TAString::AsNum"): "Dez-Error(x)", "Hex-Error", "OutOfRange".
    // A default other than NoDefault is returned for malformed text, not for range errors.
    double AsNum(double max, double min, int mode = nmAuto, double def = NoDefault) const;
    uint8_t AsByte(int mode = nmAuto, double def = NoDefault) const;
    uint16_t AsWord(int mode = nmAuto, double def = NoDefault) const;
    uint32_t AsUInt32(int mode = nmAuto, double def = NoDefault) const;
    int32_t AsInt32(int mode = nmAuto, double def = NoDefault) const;

private:
    int ClampEnd(int to) const;
    std::string s_;
};
