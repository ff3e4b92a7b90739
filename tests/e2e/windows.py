"""Where things are in the program's two windows, for driving them from the outside."""

# Where things are in the two windows, in window coordinates, as their layouts place them at
# the default font and starting size (no message used here makes a window grow).
SETUP_SIZE = (320, 240)
SETUP_LABEL = (11, 11, 298, 104)
SETUP_USERNAME = (193, 131)
SETUP_PASSWORD = (193, 159)
SETUP_OK = (182, 216)
SETUP_DB_BUTTON = (233, 187)
CONFIG_HOST = (264, 21)
CONFIG_OK = (262, 276)
# The insides of the three fields, for reading what they show.
CONFIG_HOST_TEXT = (143, 13, 243, 18)
CONFIG_USER_TEXT = (143, 41, 243, 18)
CONFIG_PASSWORD_TEXT = (143, 69, 243, 18)

# The same under Wine, with the Windows style and Wine's fonts.
WINE_SETUP_USERNAME = (192, 134)
WINE_SETUP_PASSWORD = (192, 160)
WINE_SETUP_DB_BUTTON = (238, 188)
WINE_SETUP_OK = (190, 217)
WINE_CONFIG_HOST = (260, 21)
WINE_CONFIG_PASSWORD = (260, 73)
WINE_CONFIG_OK = (268, 277)
WINE_CONFIG_HOST_TEXT = (135, 12, 250, 18)
WINE_CONFIG_USER_TEXT = (135, 38, 250, 18)
