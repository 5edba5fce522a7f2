#pragma once

namespace vornakel {

class ImageGridView;

// What assistive technology (a screen reader) sees of the photo grid, which paints its cells itself: a list
// with one item per photo in grid order, each named by its file name, described by its date and file-type badge,
// and selectable. The grid reports selection changes and the photo that has the keyboard focus.
namespace ImageGridAccessibility {

// Lets Qt build the grid's accessible interface; calling it again does nothing.
void install();
// The photos changed: items of photos that left the grid are dropped and listeners are told the list changed.
void photosChanged(ImageGridView& view);
// The selection changed: listeners are told, and, while the grid has the keyboard focus, which photo has it.
void selectionChanged(ImageGridView& view);

} // namespace ImageGridAccessibility
} // namespace vornakel
