/* Identifiers of the executable's resources, shared by the resource script
   and the code. */
#pragma once

#define IDI_APP 101
#define IDD_PROGRESS 102

#define IDC_PROGRESS 1000
#define IDC_LABEL 1001
#define IDC_NAME 1002

#define IDS_READ_ERROR 2
#define IDS_WRITE_ERROR 3
#define IDS_ARCHIVE_BROKEN 4
#define IDS_UNSUPPORTED_METHOD 5
#define IDS_TITLE 7
#define IDS_NO_MEMORY 8
#define IDS_CONFIRM 9
#define IDS_NO_COMMAND 10
#define IDS_LAUNCH_FAILED 11
#define IDS_WATCHING 12
#define IDS_TEMP_FOLDER_FORMAT 13
#define IDS_WRONG_WINDOWS 14
#define IDS_DESTINATION 15
#define IDS_EXTRACTING 16
#define IDS_CHECKING 17
#define IDS_UNKNOWN_SWITCH 18
#define IDS_SWITCHES 19
#define IDS_LOG_START 20
#define IDS_LOG_TITLE 21
#define IDS_LOG_TEMPORARY 22
#define IDS_LOG_RUN 23
#define IDS_LOG_INSTALLER_EXIT 24
#define IDS_LOG_WAITED 25
#define IDS_LOG_REMOVED 26
#define IDS_LOG_CANCELLED 27
#define IDS_LOG_EXIT 28
