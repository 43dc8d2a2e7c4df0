// Test helper: stores a function body the way definitions do (text, CR LF,
// 0xFF) in the next free slot and names it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core/exec.h"
#include "proc/tempfiles.h"
#include "session/input.h"
#include "vars/varstore.h"

namespace vek::testing_support {

inline void define_function(const char* name, const std::string& body) {
  int slot = 0;
  while (function_length[static_cast<std::size_t>(slot)] != 0) ++slot;
  std::string text = body + "\r\n\xff";
  function_file_write(text.data(), static_cast<long>(text.size()), function_file_end);
  function_offset[static_cast<std::size_t>(slot)] = function_file_end;
  function_length[static_cast<std::size_t>(slot)] = static_cast<int>(text.size());
  function_file_end += static_cast<std::int64_t>(text.size());
  std::int32_t v = slot;
  ASSERT_NE(store_set(variable_scope(), global_store, name, VarValue::bytes(&v, 4), kFunc), nullptr);
}

}  // namespace vek::testing_support
