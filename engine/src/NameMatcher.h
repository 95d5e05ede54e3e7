// NameMatcher: does a stored name contain the keyword, ignoring case?
//
// The meaning is that of the straightforward algorithm: convert the stored UTF-8 name
// to UTF-16 and look for the keyword with StrStrIW (Unicode simple case folding of each
// UTF-16 unit). The fast path rests on a fact about that folding: an ASCII unit folds to
// an ASCII unit (a non-ASCII unit may fold to ASCII too: the Kelvin sign to 'k', the long
// s to 's'). So for a name of ASCII bytes only:
//   - a keyword whose folded form is all ASCII matches exactly when the name, with
//     A-Z taken as a-z, contains the folded keyword (a byte search, no conversion);
//   - a keyword whose folded form holds a non-ASCII unit never matches.
// Names with any byte >= 0x80 take the straightforward algorithm.
#pragma once

#include "platform/WinTypes.h"

#include <string>

namespace orva::engine
{
class NameMatcher
{
public:
    // `keyword` is zero-terminated and must outlive the matcher.
    explicit NameMatcher(LPCWSTR keyword);

    bool Matches(const char* name, WORD length) const;

private:
    bool MatchesConverted(const char* name, WORD length) const;

    LPCWSTR m_keyword;
    bool m_foldsToAscii;
    std::string m_foldedAscii; // the folded keyword, when it is all ASCII
    size_t m_keywordUnits;
};
} // namespace orva::engine
