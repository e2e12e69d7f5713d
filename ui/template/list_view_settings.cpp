#include "ui/template/list_view_settings.h"

namespace pennacle {
namespace {

using P = PropType;
using S = ListViewSettings;

// In stored order: the scalars, then the blocks.
constexpr PropertyRow<S> kRows[] = {
    {S::kBorder, P::Choice, &S::border, Kept::Settings, Apply::Widget, 5},
    {S::kTextColour, P::Colour, &S::text_colour},
    {S::kTextBackground, P::Colour, &S::text_background},
    {S::kBackground, P::Colour, &S::background},
    {S::kView, P::Choice, &S::view, Kept::Settings, Apply::Widget, kListViewReport},
    {S::kIconAlignment, P::Choice, &S::icon_alignment},
    {S::kAutoArrange, P::Logical, &S::auto_arrange},
    {S::kWrapLabels, P::Logical, &S::wrap_labels},
    {S::kHideHeader, P::Logical, &S::hide_header},
    {S::kClickableHeader, P::Logical, &S::clickable_header},
    {S::kFullRowSelect, P::Logical, &S::full_row_select},
    {S::kGridLines, P::Logical, &S::grid_lines},
    {S::kHeaderDragDrop, P::Logical, &S::header_drag_drop},
    {S::kHotTracking, P::Logical, &S::hot_tracking},
    {S::kHandCursor, P::Logical, &S::hand_cursor},
    {S::kUnderlineCold, P::Logical, &S::underline_cold},
    {S::kUnderlineHot, P::Logical, &S::underline_hot},
    {S::kLabelEditing, P::Logical, &S::label_editing},
    {S::kSorting, P::Choice, &S::sorting, Kept::Settings, Apply::Widget, 2},
    {S::kCheckBoxes, P::Logical, &S::check_boxes},
    {S::kFlatScrollBars, P::Logical, &S::flat_scroll_bars},
    {S::kSingleSelection, P::Logical, &S::single_selection},
    {S::kCurrentRow, P::Integer, &S::current_row, Kept::Live, Apply::Control},
    {S::kAlwaysShowSelection, P::Logical, &S::always_show_selection},
    {S::kFont, P::Font, &S::font},
    {S::kHeaderImages, P::ImageList, &S::header_images},
    {S::kRowImages, P::ImageList, &S::row_images},
    {S::kColumns, P::Block, &S::columns},
    {S::kStateImages, P::ImageList, &S::state_images},
    {S::kInitialRows, P::Block, &S::initial_rows, Kept::Live, Apply::Control},
};

}  // namespace

const KindTable<ListViewSettings> ListViewSettings::kTable{kVersion, kRows, true};

}  // namespace pennacle
