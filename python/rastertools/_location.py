# Where the front command lives, relative to this folder, in an installation (the install
# writes its own copy of this file); None in the source tree.
BIN_FROM_PACKAGE = None
