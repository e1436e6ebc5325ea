// Resource ids shared by the resource script and the code that loads them.
#pragma once

#define IDI_APP_ICON 1

// Toolbar images: PNG files stored as RCDATA, loaded once per capture session.
#define IDR_TOOL_PEN 101
#define IDR_TOOL_LINE 102
#define IDR_TOOL_ARROW 103
#define IDR_TOOL_RECTANGLE 104
#define IDR_TOOL_UNDO 105
#define IDR_TOOL_COPY 106
#define IDR_TOOL_CLOSE 107
#define IDR_TOOL_TEXT 108
#define IDR_TOOL_SAVE 109
#define IDR_TOOL_UPLOAD 110
