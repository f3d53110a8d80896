// libkvext.so.4 is linked from kvext_core; its version script (libkvext.map) exports the Orva
// entry points and nothing else. Each entry point is checked against its CryptoAPI prototype
// where it is defined.
