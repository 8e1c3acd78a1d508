// fmt's compiled part, for the cross-builds (Windows, WebAssembly): Debian
// ships fmt's library for this machine only, so these builds take its
// headers and compile the functions that the library would hold here, once,
// rather than inline in every file that formats (FMT_HEADER_ONLY), which
// took a third of each such file's compile time. The explicit
// instantiations are those that fmt/format.h declares `extern template`.
#include <fmt/format-inl.h>

FMT_BEGIN_NAMESPACE
namespace detail {
template FMT_API auto thousands_sep_impl<char>(locale_ref) -> thousands_sep_result<char>;
template FMT_API auto thousands_sep_impl<wchar_t>(locale_ref) -> thousands_sep_result<wchar_t>;
template FMT_API auto decimal_point_impl(locale_ref) -> char;
template FMT_API auto decimal_point_impl(locale_ref) -> wchar_t;
}  // namespace detail
FMT_END_NAMESPACE
