// The program's main module: entry point, window, message loop and frame clock.
// Declared here so tests can drive the module; the program itself needs no header.
#pragma once

#include "platform/windows.h"

class GameApp;

extern HINSTANCE instanceHandle;
extern HWND mainWindow;
extern char windowTitle[100];
extern char windowClassName[100];
extern GameApp* theApp; // null before creation and after DestroyApplication

ATOM RegisterWindowClass(HINSTANCE hInstance);
BOOL CreateMainWindow(HINSTANCE hInstance, int nCmdShow);
LRESULT CALLBACK MainWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
void UpdateFrame(float dt);
void RenderFrame(float dt);
void DestroyApplication();
