// A client header.
