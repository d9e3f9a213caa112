// Resource identifiers of the program.
#pragma once

// String table: names used by the event log.
#define IDS_APPLICATION_NAME 9870
#define IDS_PRODUCT_NAME 9871
#define IDS_LIBRARY_NAME 9872
#define IDS_EVENTS_FILE 9874
