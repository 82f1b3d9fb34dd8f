// Synthetic degraded document pages with exact ground truth, for tests and
// benchmarks.
#pragma once

#include <cstdint>
#include <opencv2/core.hpp>
#include <string>

struct PageOptions {
    std::uint32_t seed = 1;
    int width = 1200;
    int height = 900;
    // 0 gives a clean page; 1 the strongest gradients, stains, fading, bleed-through,
    // blur, noise and compression. Values outside 0..1 are clamped.
    double difficulty = 0.5;
};

// Draws lines of printed or handwritten-looking text and degrades the page.
// `page` receives the 8-bit grey page, `truth` its ink mask before any degradation
// (ink 0, paper 255), both width × height. The output depends only on `options`:
// the same options give the same images on every run, and the text (so the truth)
// depends only on the seed and the size, so pages of one seed differ only in
// their degradations.
// Preconditions: width and height at least 64.
void GeneratePage(const PageOptions& options, cv::Mat& page, cv::Mat& truth);

// Ways a scan goes wrong, one per class page, so that a method's weak spot shows up
// class by class instead of vanishing in a mean.
enum class PageClass {
    kNoise,            // flatbed or camera noise (sigma 4 + 20 * difficulty) with a slight blur
    kFaint,            // the first lines in dark ink, the rest faint
    kVerso,            // a blurred mirrored verso 35-55 grey levels below the paper
    kBorder,           // dark page borders, a book edge and its shadow
    kTexture,          // fibrous textured paper, stains and faint pencil-like writing
    kThin,             // hairline type
    kDarkBesideFaint,  // some lines in dark ink, the others 3 to 5 times fainter
    // Positive pages with large dark areas, on which a guess of the page's polarity
    // could go wrong:
    kPhoto,       // a big dark photograph in the text block
    kBookEdge,    // a wide dark surround, the stacked edges of a book's leaves
    kStains,      // heavy dark stains over much of the page
    kTableHeader  // ruled table whose header rows are light letters on a dark bar
};

// Class names as the command line spells them: noise, faint, verso, border, texture,
// thin, dark-beside-faint, photo, book-edge, stains, table-header. Returns false for
// an unknown name.
bool ParsePageClass(const std::string& name, PageClass& pageClass);

// A page of real English words set in a DejaVu font (fonts-dejavu-core, looked up in
// `fontDir`), degraded the way `pageClass` says. `truth` is the ink mask of the
// glyphs as rendered, before any degradation; `text` receives the words, one line of
// text per line, for OCR checks. Deterministic like GeneratePage; `difficulty`
// scales the degradation. Throws cv::Exception when a font cannot be loaded.
// Preconditions: width at least 600 and height at least 300.
void GenerateClassPage(const PageOptions& options, PageClass pageClass, const std::string& fontDir,
                       cv::Mat& page, cv::Mat& truth, std::string& text);
