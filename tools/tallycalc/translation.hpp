// tallycalc's own texts in the user's language: the English texts are the
// message ids and the fallback; each language's translations are
// po/LANG.po, compiled at build time to locale/LANG/LC_MESSAGES/tallycalc.mo
// beside the executable (a build tree) and installed under the system's
// locale folder.  The catalogue is read here rather than through the C
// library's gettext, whose lazy set-up of the codeset conversion crashes
// when an allocation fails: a catalogue that cannot be read, or converted
// to the terminal's codeset, leaves every text English.
#pragma once

#include <iconv.h>

#include <initializer_list>
#include <string>
#include <string_view>

namespace tallycalc {

// Reads the catalogue of the LC_MESSAGES language (LANGUAGE first, as
// gettext does); after setlocale.
void start_translations();

// The text in the user's language, else itself.
const char* tr(const char* english);

// Marks a text kept in a table for the catalogue; tr() translates it where
// it is used.
constexpr const char* N_(const char* english) { return english; }

// `pattern` with each "{}" replaced by the next argument, so that a
// translation may move the parts it names.
std::string fill(std::string_view pattern, std::initializer_list<std::string_view> arguments);

// The terminal's codeset, as iconv names it: the locale's, or UTF-8 where
// the locale names none but ASCII.
std::string terminal_codeset();

// `text` through the conversion `cd` (its own bytes when there is none or
// it fails).
inline const iconv_t kNoConversion = reinterpret_cast<iconv_t>(-1);
std::string convert(iconv_t cd, std::string_view text);

}  // namespace tallycalc
