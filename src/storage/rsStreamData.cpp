// TrsStreamData: the settings file, its path, and the embedded internal file.
