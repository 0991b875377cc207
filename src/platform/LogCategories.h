#pragma once

#include <QLoggingCategory>

// Diagnostics, silent by default. Enable with, for example,
//   QT_LOGGING_RULES="quintaray.*.debug=true"
// quintaray.krox       what each container held and what was unpacked
// quintaray.playlist   frames decompressed, and why each set was skipped
// quintaray.player     set starts and preparation
// quintaray.mvc        each connection's state changes and every dropped message
// quintaray.companion  files moved, and why a file stayed
Q_DECLARE_LOGGING_CATEGORY(lcKrox)
Q_DECLARE_LOGGING_CATEGORY(lcPlaylist)
Q_DECLARE_LOGGING_CATEGORY(lcPlayer)
Q_DECLARE_LOGGING_CATEGORY(lcMvc)
Q_DECLARE_LOGGING_CATEGORY(lcCompanion)
Q_DECLARE_LOGGING_CATEGORY(lcWindow)
