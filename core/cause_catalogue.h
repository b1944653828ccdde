// The fixed catalogue of cause codes the adapter's driver reports, in Japanese and English.
#pragma once

#include <cstdint>

struct CauseEntry {
    uint32_t code;
    const char* text;  // static, NUL-terminated; Japanese texts are code page 932
};

constexpr int CAUSE_COUNT = 178;
constexpr uint32_t UNKNOWN_CAUSE_CODE = 0xFFFF;  // the last row, which ends every lookup

// Both columns in catalogue order (not sorted); row n carries the same code in each.
extern const CauseEntry JapaneseCauses[CAUSE_COUNT];
extern const CauseEntry EnglishCauses[CAUSE_COUNT];

// 0 selects the Japanese column, anything else the English one. The program leaves it at
// 0; the command-line companion sets it once for its English output.
extern int32_t CatalogueLanguage;

// The column CatalogueLanguage selects, CAUSE_COUNT rows in catalogue order.
const CauseEntry* CatalogueColumn();

// The text of the row whose code equals `code` in all 32 bits, in the column
// CatalogueLanguage selects, or null when no row matches. 0xFFFF finds its own row.
const char* LookupCause(uint32_t code);
