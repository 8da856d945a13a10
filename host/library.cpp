// The driver library itself: the core (host/, stations/, net/, mewtocol/,
// address/) linked whole, plus the platform implementation. VpiMain is the
// only name that leaves it.
namespace etl {
[[maybe_unused]] extern const char kLibraryName[];
const char kLibraryName[] = "ETLANdr";
}  // namespace etl
