// The window lands here.
