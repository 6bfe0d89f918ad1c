#pragma once

#include <QLoggingCategory>

// One category per area; failures the program survives on purpose are logged there as warnings.
Q_DECLARE_LOGGING_CATEGORY(logCache)
Q_DECLARE_LOGGING_CATEGORY(logPlayer)
Q_DECLARE_LOGGING_CATEGORY(logLibrary)
Q_DECLARE_LOGGING_CATEGORY(logTelemetry)
