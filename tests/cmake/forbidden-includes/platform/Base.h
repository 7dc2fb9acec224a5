// A platform header.
