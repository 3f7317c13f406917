// The choice between the English and the Russian texts.
#pragma once
#include <cstdint>

constexpr uint16_t kLangEnglishUS = 0x0409;
constexpr uint32_t kPrimaryLanguageMask = 0x3FF;
constexpr uint32_t kPrimaryRussian = 0x19;

// Russian when the user interface language is Russian (primary language,
// low 10 bits, 0x19), or when the system interface is English (United
// States) and the system locale's primary language is Russian.
bool choose_russian_texts(uint16_t user_ui_language, uint16_t system_ui_language, uint32_t system_lcid);
