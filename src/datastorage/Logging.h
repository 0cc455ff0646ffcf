#pragma once

#include <QLoggingCategory>

/// The image data's diagnostics category, "lib.ds".
Q_DECLARE_LOGGING_CATEGORY(lcDataStorage)
