#include "platform/LogCategories.h"

// Messages are written with qCDebug: below the default threshold, so nothing shows unless a rule
// enables the category.
Q_LOGGING_CATEGORY(lcKrox, "quintaray.krox", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPlaylist, "quintaray.playlist", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPlayer, "quintaray.player", QtInfoMsg)
Q_LOGGING_CATEGORY(lcMvc, "quintaray.mvc", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCompanion, "quintaray.companion", QtInfoMsg)
Q_LOGGING_CATEGORY(lcWindow, "quintaray.window", QtInfoMsg)
