// tallycalc's own texts in the user's language, through gettext: the
// English texts are the message ids and the fallback; each language's
// translations are po/LANG.po, compiled at build time to
// locale/LANG/LC_MESSAGES/tallycalc.mo beside the executable (a build
// tree) and installed under the system's locale folder.  (The hints keep
// their two languages side by side, in hints.cpp.)
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace tallycalc {

// Binds the message catalogue; after setlocale.
void start_translations();

// The text in the language of LC_MESSAGES (LANGUAGE first), else itself.
const char* tr(const char* english);

// `pattern` with each "{}" replaced by the next argument, so that a
// translation may move the parts it names.
std::string fill(std::string_view pattern, std::initializer_list<std::string_view> arguments);

}  // namespace tallycalc
