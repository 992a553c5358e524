#pragma once

// libTorvikAPI.so is built with hidden symbols; what carries this mark is its interface.
#define TORVIK_API __attribute__((visibility("default")))
