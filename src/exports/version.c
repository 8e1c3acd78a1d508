/* The library's version as text in its file: `strings libsu55if.so | grep
 * 'su55if version'` shows it, and su55if-host --version reads it from the
 * file it loaded. Hidden and kept (used), so it exports nothing. */
#include "su55if_version.h"

__attribute__((used)) static const char su55ifVersionText[] = "su55if version " SU55IF_VERSION_STRING;
