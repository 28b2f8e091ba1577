// Anchor for the resource library.
