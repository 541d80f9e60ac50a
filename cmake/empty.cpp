// Compiled into libraries that have no sources of their own yet.
