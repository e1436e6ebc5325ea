// Resource ids shared by the resource script and the code that loads them.
#pragma once

#define IDI_APP_ICON 1

// Toolbar images: PNG files stored as RCDATA, loaded once per capture session. Each is drawn
// at 100 % (101 to 113), 150 % (201 to 213) and 200 % (301 to 313), in the same order.
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
#define IDR_TOOL_MOSAIC 111
#define IDR_TOOL_NUMBER 112
#define IDR_TOOL_PIN 113
#define IDR_TOOL_PEN_150 201
#define IDR_TOOL_LINE_150 202
#define IDR_TOOL_ARROW_150 203
#define IDR_TOOL_RECTANGLE_150 204
#define IDR_TOOL_UNDO_150 205
#define IDR_TOOL_COPY_150 206
#define IDR_TOOL_CLOSE_150 207
#define IDR_TOOL_TEXT_150 208
#define IDR_TOOL_SAVE_150 209
#define IDR_TOOL_UPLOAD_150 210
#define IDR_TOOL_MOSAIC_150 211
#define IDR_TOOL_NUMBER_150 212
#define IDR_TOOL_PIN_150 213
#define IDR_TOOL_PEN_200 301
#define IDR_TOOL_LINE_200 302
#define IDR_TOOL_ARROW_200 303
#define IDR_TOOL_RECTANGLE_200 304
#define IDR_TOOL_UNDO_200 305
#define IDR_TOOL_COPY_200 306
#define IDR_TOOL_CLOSE_200 307
#define IDR_TOOL_TEXT_200 308
#define IDR_TOOL_SAVE_200 309
#define IDR_TOOL_UPLOAD_200 310
#define IDR_TOOL_MOSAIC_200 311
#define IDR_TOOL_NUMBER_200 312
#define IDR_TOOL_PIN_200 313
