// A header only data/ may use.
