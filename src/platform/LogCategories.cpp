#include "platform/LogCategories.h"

Q_LOGGING_CATEGORY(logCache, "roadloom.cache")
Q_LOGGING_CATEGORY(logPlayer, "roadloom.player")
Q_LOGGING_CATEGORY(logLibrary, "roadloom.library")
Q_LOGGING_CATEGORY(logTelemetry, "roadloom.telemetry")
