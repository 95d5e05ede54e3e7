// NameMatcher: does a stored name contain the keyword, ignoring case?
//
// The meaning is that of the straightforward algorithm: convert the stored UTF-8 name
// to UTF-16 and look for the keyword with StrStrIW (Unicode simple case folding of each
// UTF-16 unit). The fast path rests on two facts about that folding: an ASCII unit
// folds to an ASCII unit, and only two characters above ASCII fold to ASCII (the Kelvin
// sign to 'k', the long s to 's'; found from the folding itself, not assumed). So:
//   - a keyword whose folded form is all ASCII matches a name without those two exactly
//     when the name's bytes, A-Z taken as a-z, contain the folded keyword (a byte
//     search: bytes of other characters are >= 0x80 and never equal a keyword byte);
//   - a keyword whose folded form holds a non-ASCII unit never matches an ASCII name.
// Every other case takes the straightforward algorithm.
#pragma once

#include "platform/WinTypes.h"

#include <array>
#include <string>
#include <vector>

namespace orva::engine
{
// The characters above ASCII whose simple case folding is ASCII, in UTF-8.
struct FoldingForms
{
    std::array<bool, 256> lead; // first bytes of `forms`
    std::vector<std::string> forms;

    static const FoldingForms& Get();
};

class NameMatcher
{
public:
    // `keyword` is zero-terminated and must outlive the matcher.
    explicit NameMatcher(LPCWSTR keyword);

    bool Matches(const char* name, WORD length) const;
    // The same, reading the name 16 bytes at a time: at least kPadding readable bytes
    // must follow it (they do not change the answer).
    bool MatchesPadded(const char* name, WORD length) const;
    static constexpr size_t kPadding = 16;

private:
    bool MatchesConverted(const char* name, WORD length) const;
    bool FoldedKeywordAt(const BYTE* at) const;

    LPCWSTR m_keyword;
    bool m_foldsToAscii;
    std::string m_foldedAscii; // the folded keyword, when it is all ASCII
    size_t m_keywordUnits;
    const FoldingForms& m_folding;
};
} // namespace orva::engine
