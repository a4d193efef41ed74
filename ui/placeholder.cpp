// The window's pieces live in this library.
