// The order of names in the window's lists: as a French reader sorts them (case and
// accents weigh only between names that are otherwise equal), with the numbers inside
// names in their natural order ("photo2" before "photo10"), so that a folder of thousands
// of files can be read. Names the collation finds equal keep a fixed order by their bytes.
#pragma once

#include <string>
#include <vector>

void SortNames(std::vector<std::string>& names);
