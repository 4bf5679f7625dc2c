// Resolves the kernel thunks from gdi32.dll at run time.
