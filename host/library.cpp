// The driver library itself: the core (host/, stations/, net/, mewtocol/,
// address/) linked whole, plus the platform implementations. VpiMain is the
// only name that leaves it: the build hides every other name, and on Windows
// ETLANdr.def lists VpiMain alone. This file holds no code; it is the
// library target's own source.
