// The main window; grown by the window work.
