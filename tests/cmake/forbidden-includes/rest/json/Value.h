// A JSON header.
