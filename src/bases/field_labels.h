#pragma once
// The display label of a program field by its logical name (Windows-1251),
// as "Применить" gives it; empty for a name without one.
#include <string>

std::string fieldDisplayLabel(const std::string& logical);
