#pragma once

/// Marks a class or function that libkqFlashLib.so exports; everything else stays hidden.
#define KQ_FLASHLIB_API __attribute__((visibility("default")))
