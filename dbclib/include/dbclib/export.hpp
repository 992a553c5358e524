#pragma once

/// Marks a class or function that libkqDbcLib.so exports; everything else stays hidden.
#define KQ_DBCLIB_API __attribute__((visibility("default")))
