#include "ui_language.h"

bool choose_russian_texts(uint16_t user_ui_language, uint16_t system_ui_language, uint32_t system_lcid) {
  if ((user_ui_language & kPrimaryLanguageMask) == kPrimaryRussian) return true;
  return system_ui_language == kLangEnglishUS && (system_lcid & kPrimaryLanguageMask) == kPrimaryRussian;
}
