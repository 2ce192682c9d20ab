#pragma once

// Optimises the PNG file whose bytes fileState.inputFile holds.
void ProcessPng(const char* path);
