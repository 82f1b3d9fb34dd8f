#include "tools/evaluation/page_generator.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <opencv2/freetype.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

namespace {

// The standard distributions are implementation-defined, so every draw is made
// from the raw engine output with arithmetic kept here: a seed gives the same page
// with any standard library.
class PageRandom {
  public:
    PageRandom(std::uint32_t seed, std::uint32_t stream) {
        std::seed_seq sequence{seed, stream};
        engine_.seed(sequence);
    }

    double Uniform() { return static_cast<double>(engine_()) / 4294967296.0; }
    double Uniform(double low, double high) { return low + (high - low) * Uniform(); }
    int Integer(int low, int high) {
        const int span = high - low + 1;
        return low + std::min(span - 1, static_cast<int>(Uniform() * span));
    }
    bool Chance(double probability) { return Uniform() < probability; }
    double Gaussian() {
        const double u1 = 1.0 - Uniform();
        const double u2 = Uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * CV_PI * u2);
    }

  private:
    std::mt19937 engine_;
};

// Independent streams, so that tuning one degradation does not reshuffle the text.
enum RandomStream : std::uint32_t {
    kTextStream = 1,
    kBleedStream,
    kPaperStream,
    kInkStream,
    kStainStream,
    kNoiseStream,
    kFinishStream,
    kVersoStream,
    kBorderStream
};

struct TextStyle {
    std::vector<int> fonts;
    int textHeight = 20;  // pixel height of a capital with descender
    int thickness = 2;
    double maxTiltDegrees = 0.0;
    double lineSpacing = 1.8;
};

struct InkLayer {
    cv::Mat mask;      // 255 on ink
    cv::Mat strength;  // CV_32F, 0..1, how dark the ink is where the mask is set
};

// Letters repeated roughly in proportion to their frequency in English prose.
const char kLetters[] =
    "eeeeeeeeeeeetttttttttaaaaaaaaooooooooiiiiiiinnnnnnnsssssshhhhhhrrrrrrddddllll"
    "uuucccmmmwwffggyyppbbvkjxqz";

std::string RandomWord(PageRandom& random, bool sentenceStart) {
    const int length = random.Chance(0.08) ? random.Integer(1, 4) : random.Integer(2, 9);
    std::string word;
    if (random.Chance(0.04)) {
        for (int i = 0; i < length && i < 4; ++i) {
            word += static_cast<char>('0' + random.Integer(0, 9));
        }
        return word;
    }
    for (int i = 0; i < length; ++i) {
        word += kLetters[random.Integer(0, sizeof kLetters - 2)];
    }
    if (sentenceStart) {
        word[0] = static_cast<char>(word[0] - 'a' + 'A');
    }
    if (random.Chance(0.12)) {
        const char kPunctuation[] = ".,;:";
        word += kPunctuation[random.Integer(0, 3)];
    }
    return word;
}

TextStyle ChooseStyle(PageRandom& random, const cv::Size& size) {
    const int kPrinted[] = {cv::FONT_HERSHEY_SIMPLEX, cv::FONT_HERSHEY_DUPLEX,
                            cv::FONT_HERSHEY_COMPLEX, cv::FONT_HERSHEY_TRIPLEX,
                            cv::FONT_HERSHEY_PLAIN};
    const int kScript[] = {cv::FONT_HERSHEY_SCRIPT_SIMPLEX, cv::FONT_HERSHEY_SCRIPT_COMPLEX};
    // Text is sized like a 300 dpi scan (an "Hg" of about 30 to 65 pixels, strokes of
    // 2 to 6); only pages too small to hold such lines shrink it.
    const double scale = std::min(1.0, std::min(size.width, size.height) / 600.0);
    TextStyle style;
    const bool handwritten = random.Chance(0.5);
    if (handwritten) {
        style.fonts = {kScript[0], kScript[1], kScript[random.Integer(0, 1)] | cv::FONT_ITALIC};
        style.maxTiltDegrees = 1.5;
        style.lineSpacing = random.Uniform(1.7, 2.4);
    } else {
        const int font = kPrinted[random.Integer(0, 4)];
        style.fonts = {font, font, font | cv::FONT_ITALIC};
        style.maxTiltDegrees = random.Uniform(0.0, 0.4);
        style.lineSpacing = random.Uniform(1.4, 1.9);
    }
    style.textHeight = std::max(8, static_cast<int>(random.Uniform(30.0, 65.0) * scale));
    style.thickness = std::max(
        1, std::min(6, static_cast<int>(style.textHeight / 12.0 + random.Uniform(0.0, 1.5))));
    return style;
}

double FontScaleFor(int font, int thickness, int textHeight) {
    int baseline = 0;
    const cv::Size unit = cv::getTextSize("Hg", font, 1.0, thickness, &baseline);
    return textHeight / static_cast<double>(std::max(1, unit.height + baseline));
}

// One line of text drawn on its own strip, tilted by a nearest-neighbour warp so the
// mask stays two-level, then merged into the layer.
void DrawTextLine(const std::string& text, int font, double fontScale, int thickness,
                  double tiltDegrees, int x, int baselineY, double strength, InkLayer& layer) {
    const int stripHeight = static_cast<int>(fontScale * 60.0) + 4 * thickness + 8;
    const int top = baselineY - stripHeight * 2 / 3;
    cv::Mat strip = cv::Mat::zeros(stripHeight, layer.mask.cols, CV_8U);
    cv::putText(strip, text, cv::Point(x, baselineY - top), font, fontScale, cv::Scalar(255),
                thickness, cv::LINE_8);
    if (tiltDegrees != 0.0) {
        const cv::Mat rotation = cv::getRotationMatrix2D(
            cv::Point2f(layer.mask.cols / 2.0f, stripHeight / 2.0f), tiltDegrees, 1.0);
        cv::warpAffine(strip, strip, rotation, strip.size(), cv::INTER_NEAREST);
    }
    const int y0 = std::max(0, top);
    const int y1 = std::min(layer.mask.rows, top + stripHeight);
    if (y1 <= y0) {
        return;
    }
    const cv::Mat stripPart = strip.rowRange(y0 - top, y1 - top);
    cv::Mat maskPart = layer.mask.rowRange(y0, y1);
    cv::bitwise_or(maskPart, stripPart, maskPart);
    layer.strength.rowRange(y0, y1).setTo(strength, stripPart);
}

std::string FillLine(PageRandom& random, int font, double fontScale, int thickness, int width,
                     bool& sentenceStart) {
    std::string line;
    for (int attempt = 0; attempt < 40; ++attempt) {
        const std::string word = RandomWord(random, sentenceStart);
        const std::string candidate = line.empty() ? word : line + " " + word;
        int baseline = 0;
        if (cv::getTextSize(candidate, font, fontScale, thickness, &baseline).width > width) {
            break;
        }
        line = candidate;
        sentenceStart = word.back() == '.';
    }
    return line;
}

void DrawTextLayer(PageRandom& random, const TextStyle& style, double fadeChance, InkLayer& layer) {
    const int width = layer.mask.cols;
    const int height = layer.mask.rows;
    const int left = static_cast<int>(width * random.Uniform(0.04, 0.10));
    const int right = width - static_cast<int>(width * random.Uniform(0.04, 0.10));
    const double pageTilt = random.Uniform(-style.maxTiltDegrees, style.maxTiltDegrees) * 0.5;
    int y = static_cast<int>(height * random.Uniform(0.04, 0.09)) + style.textHeight;
    int linesLeftInParagraph = 0;
    bool sentenceStart = true;
    while (y < height - style.textHeight / 2) {
        const bool heading = linesLeftInParagraph == 0 && random.Chance(0.15);
        const int textHeight = heading ? style.textHeight * 3 / 2 : style.textHeight;
        const int font = style.fonts[random.Integer(0, static_cast<int>(style.fonts.size()) - 1)];
        const int thickness =
            std::max(1, style.thickness + random.Integer(-1, 1) + (heading ? 1 : 0));
        const double fontScale = FontScaleFor(font, thickness, textHeight);
        int indent = 0;
        if (linesLeftInParagraph == 0) {
            linesLeftInParagraph = heading ? 1 : random.Integer(2, 8);
            indent = heading ? 0 : random.Integer(0, 4) * textHeight / 2;
            sentenceStart = true;
        }
        int lineWidth = right - left - indent;
        if (linesLeftInParagraph == 1 && !heading) {
            lineWidth = static_cast<int>(lineWidth * random.Uniform(0.3, 0.9));
        }
        const std::string text =
            FillLine(random, font, fontScale, thickness, lineWidth, sentenceStart);
        const double strength =
            random.Chance(fadeChance) ? random.Uniform(0.25, 0.55) : random.Uniform(0.75, 1.0);
        const double tilt =
            pageTilt + random.Uniform(-style.maxTiltDegrees, style.maxTiltDegrees) * 0.5;
        DrawTextLine(text, font, fontScale, thickness, tilt, left + indent, y, strength, layer);
        --linesLeftInParagraph;
        y += static_cast<int>(textHeight * style.lineSpacing);
        if (linesLeftInParagraph == 0) {
            y += static_cast<int>(textHeight * random.Uniform(0.3, 1.2));
        }
    }
}

InkLayer MakeTextLayer(PageRandom& random, const cv::Size& size, double fadeChance) {
    InkLayer layer;
    layer.mask = cv::Mat::zeros(size, CV_8U);
    layer.strength = cv::Mat::zeros(size, CV_32F);
    const TextStyle style = ChooseStyle(random, size);
    DrawTextLayer(random, style, fadeChance, layer);
    return layer;
}

// A smooth random field in [low, high]: a coarse grid of uniform values upsampled
// with cubic interpolation.
cv::Mat SmoothField(PageRandom& random, const cv::Size& size, int cells, double low, double high) {
    cv::Mat grid(cells, cells, CV_32F);
    for (int y = 0; y < cells; ++y) {
        for (int x = 0; x < cells; ++x) {
            grid.at<float>(y, x) = static_cast<float>(random.Uniform(low, high));
        }
    }
    cv::Mat field;
    cv::resize(grid, field, size, 0, 0, cv::INTER_CUBIC);
    cv::min(field, high, field);
    cv::max(field, low, field);
    return field;
}

// Unit Gaussian noise in every pixel of a CV_32F image.
void AddNoiseField(PageRandom& random, cv::Mat& field) {
    for (int y = 0; y < field.rows; ++y) {
        float* row = field.ptr<float>(y);
        for (int x = 0; x < field.cols; ++x) {
            row[x] = static_cast<float>(random.Gaussian());
        }
    }
}

cv::Mat MakePaper(PageRandom& random, const cv::Size& size, double difficulty) {
    const double base = random.Uniform(185.0, 235.0);
    const double gradient = difficulty * random.Uniform(30.0, 90.0);
    const double angle = random.Uniform(0.0, 2.0 * CV_PI);
    const double dx = std::cos(angle) / size.width;
    const double dy = std::sin(angle) / size.height;
    cv::Mat paper(size, CV_32F);
    for (int y = 0; y < size.height; ++y) {
        float* row = paper.ptr<float>(y);
        for (int x = 0; x < size.width; ++x) {
            const double t = (x - size.width / 2.0) * dx + (y - size.height / 2.0) * dy;
            row[x] = static_cast<float>(base + gradient * t);
        }
    }
    const double vignette = difficulty * random.Uniform(10.0, 60.0);
    const cv::Point2d centre(size.width * random.Uniform(0.3, 0.7),
                             size.height * random.Uniform(0.3, 0.7));
    const double reach = std::hypot(size.width, size.height) / 2.0;
    for (int y = 0; y < size.height; ++y) {
        float* row = paper.ptr<float>(y);
        for (int x = 0; x < size.width; ++x) {
            const double r = std::hypot(x - centre.x, y - centre.y) / reach;
            row[x] -= static_cast<float>(vignette * r * r);
        }
    }
    const double texture = 3.0 + 8.0 * difficulty;
    paper += SmoothField(random, size, 24, -texture, texture);
    return paper;
}

// Darkening factor per pixel in [0, 1): blurred filled ellipses with a darker rim,
// the way dried liquid marks look.
cv::Mat MakeStains(PageRandom& random, const cv::Size& size, double difficulty) {
    const int shrink = 4;
    const cv::Size small((size.width + shrink - 1) / shrink, (size.height + shrink - 1) / shrink);
    cv::Mat stains = cv::Mat::zeros(small, CV_32F);
    const int count = static_cast<int>(difficulty * 7.0 * random.Uniform(0.5, 1.0) + 0.5);
    for (int i = 0; i < count; ++i) {
        const cv::Point centre(random.Integer(0, small.width - 1),
                               random.Integer(0, small.height - 1));
        const int radius = std::max(
            3, static_cast<int>(std::min(small.width, small.height) * random.Uniform(0.05, 0.25)));
        const cv::Size axes(radius,
                            std::max(2, static_cast<int>(radius * random.Uniform(0.4, 1.0))));
        const double angle = random.Uniform(0.0, 180.0);
        const double depth = difficulty * random.Uniform(0.15, 0.5);
        cv::Mat blob = cv::Mat::zeros(small, CV_32F);
        cv::ellipse(blob, centre, axes, angle, 0.0, 360.0, cv::Scalar(depth * 0.6), cv::FILLED);
        cv::ellipse(blob, centre, axes, angle, 0.0, 360.0, cv::Scalar(depth),
                    std::max(1, radius / 8));
        cv::GaussianBlur(blob, blob, cv::Size(), std::max(1.0, radius / 6.0));
        stains += blob;
    }
    cv::min(stains, 0.6, stains);
    cv::Mat full;
    cv::resize(stains, full, size, 0, 0, cv::INTER_LINEAR);
    return full;
}

// Text from the other side of the sheet: mirrored, soft and faint, never in the truth.
cv::Mat MakeBleedThrough(const PageOptions& options, const cv::Size& size, double difficulty) {
    PageRandom random(options.seed, kBleedStream);
    if (!random.Chance(0.2 + 0.7 * difficulty)) {
        return cv::Mat::zeros(size, CV_32F);
    }
    const InkLayer layer = MakeTextLayer(random, size, 0.0);
    cv::Mat bleed;
    layer.mask.convertTo(bleed, CV_32F, difficulty * random.Uniform(0.25, 0.6) / 255.0);
    cv::flip(bleed, bleed, 1);
    cv::GaussianBlur(bleed, bleed, cv::Size(), random.Uniform(1.0, 2.5));
    return bleed;
}

cv::Mat ComposePage(const cv::Mat& paper, const InkLayer& ink, const cv::Mat& bleed,
                    double inkGrey) {
    cv::Mat coverage;
    ink.mask.convertTo(coverage, CV_32F, 1.0 / 255.0);
    cv::Mat darkness;
    cv::max(coverage.mul(ink.strength), bleed, darkness);
    const cv::Mat contrast = paper - inkGrey;
    return paper - contrast.mul(darkness);
}

void AddNoise(PageRandom& random, double sigma, cv::Mat& page) {
    for (int y = 0; y < page.rows; ++y) {
        float* row = page.ptr<float>(y);
        for (int x = 0; x < page.cols; ++x) {
            row[x] += static_cast<float>(sigma * random.Gaussian());
        }
    }
}

cv::Mat CompressJpeg(const cv::Mat& page, int quality) {
    std::vector<unsigned char> bytes;
    cv::imencode(".jpg", page, bytes, {cv::IMWRITE_JPEG_QUALITY, quality});
    return cv::imdecode(bytes, cv::IMREAD_GRAYSCALE);
}

// Common English words, so that an OCR engine's dictionary helps it the way it does
// on real pages and a character error rate means what it says.
const char* const kWords[] = {
    "the",        "of",         "and",       "to",       "in",       "is",       "was",
    "that",       "for",        "with",      "as",       "on",       "by",       "he",
    "she",        "it",         "at",        "from",     "his",      "her",      "they",
    "which",      "this",       "be",        "are",      "had",      "have",     "were",
    "not",        "but",        "all",       "one",      "their",    "there",    "been",
    "when",       "who",        "will",      "more",     "would",    "into",     "about",
    "after",      "other",      "some",      "time",     "than",     "only",     "made",
    "over",       "could",      "first",     "years",    "new",      "may",      "most",
    "people",     "also",       "what",      "such",     "then",     "these",    "two",
    "many",       "before",     "must",      "through",  "back",     "where",    "much",
    "should",     "well",       "each",      "under",    "great",    "state",    "between",
    "house",      "being",      "life",      "water",    "against",  "world",    "never",
    "because",    "country",    "three",     "place",    "during",   "without",  "again",
    "small",      "family",     "school",    "letter",   "morning",  "evening",  "garden",
    "river",      "church",     "market",    "winter",   "summer",   "weather",  "journey",
    "village",    "mother",     "father",    "brother",  "sister",   "friend",   "children",
    "company",    "meeting",    "council",   "harbour",  "station",  "railway",  "printing",
    "paper",      "office",     "record",    "account",  "report",   "number",   "nothing",
    "something",  "everything", "always",    "perhaps",  "however",  "although", "together",
    "already",    "towards",    "general",   "public",   "history",  "question", "certain",
    "evidence",   "government", "history",   "interest", "language", "material", "national",
    "particular", "position",   "possible",  "practice", "present",  "problem",  "process",
    "product",    "purpose",    "quality",   "reason",   "result",   "service",  "society",
    "subject",    "surface",    "system",    "travel",   "value",    "window",   "writing",
    "yesterday",  "answer",     "bridge",    "castle",   "doctor",   "engine",   "forest",
    "island",     "kitchen",    "ladder",    "machine",  "needle",   "orchard",  "pocket",
    "quarter",    "saddle",     "silver",    "timber",   "valley",   "wagon",    "yellow",
    "autumn",     "bright",     "candle",    "distant",  "eleven",   "famous",   "gentle",
    "hundred",    "journal",    "knowledge", "little",   "modest",   "narrow",   "ordinary",
    "patient",    "quiet",      "rapid",     "simple",   "thousand", "useful",   "various",
    "wonderful",  "Monday",     "Tuesday",   "Friday",   "London",   "Boston",   "March",
    "April",      "October",    "December"};

// Faces for the body text; the thin class uses the extra-light face instead.
const char* const kBodyFonts[] = {"DejaVuSerif.ttf", "DejaVuSans.ttf", "DejaVuSerifCondensed.ttf",
                                  "DejaVuSansCondensed.ttf", "DejaVuSansMono.ttf"};

struct ClassTextStyle {
    std::string font;
    int fontHeight = 34;
    double lineSpacing = 1.7;
};

// One line of words that fits `width` pixels in the font.
std::string FillWordLine(PageRandom& random, cv::freetype::FreeType2& face, int fontHeight,
                         int width, bool& sentenceStart) {
    std::string line;
    const int wordCount = static_cast<int>(sizeof kWords / sizeof kWords[0]);
    for (int attempt = 0; attempt < 40; ++attempt) {
        std::string word = kWords[random.Integer(0, wordCount - 1)];
        if (sentenceStart) {
            word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
        }
        const bool endsSentence = random.Chance(0.1);
        if (endsSentence) {
            word += '.';
        } else if (random.Chance(0.06)) {
            word += ',';
        }
        const std::string candidate = line.empty() ? word : line + " " + word;
        int baseline = 0;
        if (face.getTextSize(candidate, fontHeight, -1, &baseline).width > width) {
            break;
        }
        line = candidate;
        sentenceStart = endsSentence;
    }
    return line;
}

// Glyph masks (255 on ink) of lines of words, drawn without anti-aliasing so that
// the truth is exactly two-level. `lineTops` receives each line's top row.
cv::Mat DrawWordLines(PageRandom& random, const ClassTextStyle& style, const std::string& fontDir,
                      const cv::Size& size, std::string& text, std::vector<int>& lineTops) {
    cv::Ptr<cv::freetype::FreeType2> face = cv::freetype::createFreeType2();
    face->loadFontData(fontDir + "/" + style.font, 0);
    // The renderer draws on three channels only.
    cv::Mat canvas = cv::Mat::zeros(size, CV_8UC3);
    const int left = static_cast<int>(size.width * random.Uniform(0.10, 0.14));
    const int right = size.width - static_cast<int>(size.width * random.Uniform(0.10, 0.14));
    const int step = static_cast<int>(style.fontHeight * style.lineSpacing);
    int y = static_cast<int>(size.height * random.Uniform(0.10, 0.13));
    bool sentenceStart = true;
    while (y + step < size.height * 0.9) {
        const std::string line =
            FillWordLine(random, *face, style.fontHeight, right - left, sentenceStart);
        if (line.empty()) {
            break;
        }
        face->putText(canvas, line, cv::Point(left, y), style.fontHeight, cv::Scalar(255, 255, 255),
                      -1, cv::LINE_8, false);
        lineTops.push_back(y);
        text += line + "\n";
        y += step;
    }
    cv::Mat mask;
    cv::extractChannel(canvas, mask, 0);
    return mask;
}

ClassTextStyle ChooseClassStyle(PageRandom& random, PageClass pageClass, double scale) {
    ClassTextStyle style;
    const int faces = static_cast<int>(sizeof kBodyFonts / sizeof kBodyFonts[0]);
    style.font = kBodyFonts[random.Integer(0, faces - 1)];
    style.fontHeight = static_cast<int>(random.Uniform(30.0, 40.0) * scale);
    if (pageClass == PageClass::kThin) {
        style.font = "DejaVuSans-ExtraLight.ttf";
        style.fontHeight = static_cast<int>(random.Uniform(32.0, 42.0) * scale);
    }
    style.lineSpacing = random.Uniform(1.6, 1.9);
    return style;
}

// Paper level with a gentle slope and blotches, as on a plain scanned sheet.
cv::Mat PlainPaper(PageRandom& random, const cv::Size& size) {
    const double base = random.Uniform(200.0, 232.0);
    cv::Mat paper = SmoothField(random, size, 5, -6.0, 6.0);
    paper += base;
    return paper;
}

// Fibres: noise stretched along a random direction, a few grey levels deep.
cv::Mat FibreTexture(PageRandom& random, const cv::Size& size, double depth) {
    cv::Mat noise(size, CV_32F);
    AddNoiseField(random, noise);
    const bool across = random.Chance(0.5);
    cv::GaussianBlur(noise, noise, cv::Size(), across ? 5.0 : 0.8, across ? 0.8 : 5.0);
    cv::Scalar mean, deviation;
    cv::meanStdDev(noise, mean, deviation);
    noise = (noise - mean[0]) * (depth / std::max(deviation[0], 1e-6));
    return noise;
}

// A dark border on some sides (the scanner lid or the table), the page edge slightly
// wavy, and the shadow of a book's gutter darkening the paper towards one side.
void AddBordersAndShadow(PageRandom& random, cv::Mat& paper) {
    const cv::Size size = paper.size();
    const double gutterDepth = random.Uniform(0.35, 0.6);
    const double gutterReach = size.width * random.Uniform(0.08, 0.18);
    const bool gutterLeft = random.Chance(0.5);
    for (int y = 0; y < size.height; ++y) {
        float* row = paper.ptr<float>(y);
        for (int x = 0; x < size.width; ++x) {
            const double distance = gutterLeft ? x : size.width - 1 - x;
            const double t = std::min(1.0, distance / gutterReach);
            row[x] *= static_cast<float>(1.0 - gutterDepth * (1.0 - t) * (1.0 - t));
        }
    }
    const double borderGrey = random.Uniform(10.0, 50.0);
    const cv::Mat wobble =
        SmoothField(random, cv::Size(1, std::max(size.width, size.height)), 8, -1.0, 1.0);
    for (int side = 0; side < 4; ++side) {
        if (side != 0 && !random.Chance(0.6)) {
            continue;
        }
        const bool vertical = side < 2;
        const int length = vertical ? size.height : size.width;
        const int across = vertical ? size.width : size.height;
        const double width = across * random.Uniform(0.02, 0.06);
        for (int i = 0; i < length; ++i) {
            const int depth = static_cast<int>(width * (1.0 + 0.3 * wobble.at<float>(i, 0)));
            for (int j = 0; j < depth && j < across; ++j) {
                const int along = (side % 2 == 0) ? j : across - 1 - j;
                const int y = vertical ? i : along;
                const int x = vertical ? along : i;
                paper.at<float>(y, x) = static_cast<float>(borderGrey);
            }
        }
    }
}

// Darkening mask of a mirrored, blurred page of bold words from the other side.
cv::Mat VersoDarkness(PageRandom& random, const std::string& fontDir, const cv::Size& size) {
    ClassTextStyle style;
    style.font = random.Chance(0.5) ? "DejaVuSerif-Bold.ttf" : "DejaVuSans-Bold.ttf";
    style.fontHeight = static_cast<int>(random.Uniform(30.0, 40.0));
    style.lineSpacing = random.Uniform(1.5, 1.8);
    std::string ignored;
    std::vector<int> tops;
    cv::Mat mask = DrawWordLines(random, style, fontDir, size, ignored, tops);
    cv::flip(mask, mask, 1);
    const int shift = random.Integer(0, style.fontHeight);
    const cv::Mat moved = cv::Mat::zeros(size, CV_8UC1);
    mask.rowRange(0, size.height - shift).copyTo(moved.rowRange(shift, size.height));
    cv::Mat darkness;
    moved.convertTo(darkness, CV_32F, 1.0 / 255.0);
    cv::GaussianBlur(darkness, darkness, cv::Size(), random.Uniform(1.5, 3.0));
    return darkness;
}

// Lines written with another pen: each line after the first is, by chance, 3 to
// 5 times fainter than the dark ones, so that dark and faint text share the page.
void FadeSomeLines(PageRandom& random, const std::vector<int>& lineTops, int fontHeight,
                   cv::Mat& strength) {
    const double share = 1.0 / random.Uniform(3.0, 5.0);
    for (size_t i = 1; i < lineTops.size(); ++i) {
        if (!random.Chance(0.6)) {
            continue;
        }
        const int top = std::max(0, lineTops[i] - fontHeight / 3);
        const int bottom =
            i + 1 < lineTops.size() ? lineTops[i + 1] - fontHeight / 3 : strength.rows;
        strength.rowRange(top, std::min(bottom, strength.rows)) *= share;
    }
}

// What lies under `region` (255 there) shows no glyphs, on the page or in the truth.
void EraseText(const cv::Mat& region, cv::Mat& strength, cv::Mat& truth) {
    strength.setTo(0.0, region);
    truth.setTo(255, region);
}

// A dark photograph over a large part of the text block: a dark smooth field with
// lighter and darker blurred shapes and grain. Returns the region it covers.
cv::Mat PastePhoto(PageRandom& random, cv::Mat& paper) {
    const cv::Size size = paper.size();
    const int width = static_cast<int>(size.width * random.Uniform(0.45, 0.74));
    const int height = static_cast<int>(size.height * random.Uniform(0.3, 0.55));
    const cv::Rect rect(random.Integer(size.width * 12 / 100, size.width * 88 / 100 - width),
                        random.Integer(size.height / 10, size.height * 9 / 10 - height), width,
                        height);
    cv::Mat photo = SmoothField(random, rect.size(), 4, 25.0, 90.0);
    for (int i = 0; i < 12; ++i) {
        const cv::Point centre(random.Integer(0, width - 1), random.Integer(0, height - 1));
        const cv::Size axes(random.Integer(5, width / 4), random.Integer(5, height / 4));
        cv::ellipse(photo, centre, axes, random.Uniform(0.0, 180.0), 0.0, 360.0,
                    cv::Scalar(random.Uniform(10.0, 150.0)), cv::FILLED);
    }
    cv::GaussianBlur(photo, photo, cv::Size(), 2.0);
    cv::Mat grain(rect.size(), CV_32F);
    AddNoiseField(random, grain);
    photo += grain * 6.0;
    photo.copyTo(paper(rect));
    cv::Mat region = cv::Mat::zeros(size, CV_8U);
    region(rect).setTo(255);
    return region;
}

// An open book on a dark table: a wide dark surround on one side and along the top
// and bottom, and between it and the leaf the stacked edges of the other leaves,
// fine light lines on dark. Returns the region they cover.
cv::Mat AddBookEdge(PageRandom& random, cv::Mat& paper) {
    const cv::Size size = paper.size();
    const bool left = random.Chance(0.5);
    const int surround = static_cast<int>(size.width * random.Uniform(0.08, 0.2));
    const int leaves = static_cast<int>(size.width * random.Uniform(0.03, 0.07));
    const int band = static_cast<int>(size.height * random.Uniform(0.03, 0.08));
    const double dark = random.Uniform(5.0, 40.0);
    const double leafGrey = cv::mean(paper)[0] * random.Uniform(0.7, 0.95);
    const double period = random.Uniform(3.0, 6.0);
    cv::Mat region = cv::Mat::zeros(size, CV_8U);
    region.rowRange(0, band).setTo(255);
    region.rowRange(size.height - band, size.height).setTo(255);
    paper.setTo(dark, region);
    for (int x = 0; x < surround + leaves; ++x) {
        const int column = left ? x : size.width - 1 - x;
        const bool leaf = x >= surround && std::fmod(x - surround, period) < period / 2.0;
        paper.col(column).setTo(leaf ? leafGrey : dark);
        region.col(column).setTo(255);
    }
    return region;
}

// A ruled table: a rule under every line and between columns, and the first one
// to three lines a header of light letters on a dark bar.
void RuleTable(PageRandom& random, const std::vector<int>& lineTops, int fontHeight,
               cv::Mat& strength, cv::Mat& truth) {
    if (lineTops.size() < 2) {
        return;
    }
    const int left = strength.cols * 8 / 100;
    const int right = strength.cols * 92 / 100;
    const size_t headerLines =
        std::min(lineTops.size() - 1, static_cast<size_t>(random.Integer(1, 3)));
    const cv::Rect bar(left, std::max(0, lineTops[0] - fontHeight / 3), right - left,
                       lineTops[headerLines] - lineTops[0]);
    cv::Mat barStrength = strength(bar);
    cv::subtract(1.0, barStrength, barStrength);
    cv::Mat barTruth = truth(bar);
    cv::bitwise_not(barTruth, barTruth);
    const int rule = std::max(1, fontHeight / 14);
    std::vector<std::pair<cv::Point, cv::Point>> rules;
    for (size_t i = headerLines + 1; i < lineTops.size(); ++i) {
        const int y = lineTops[i] - fontHeight / 3;
        rules.emplace_back(cv::Point(left, y), cv::Point(right, y));
    }
    const int bottom = lineTops.back() + fontHeight;
    for (const int x : {left, right, left + (right - left) * random.Integer(3, 6) / 10}) {
        rules.emplace_back(cv::Point(x, bar.y), cv::Point(x, bottom));
    }
    for (const auto& [from, to] : rules) {
        cv::line(strength, from, to, cv::Scalar(1.0), rule);
        cv::line(truth, from, to, cv::Scalar(0), rule);
    }
}

}  // namespace

bool ParsePageClass(const std::string& name, PageClass& pageClass) {
    const std::pair<const char*, PageClass> kNames[] = {
        {"noise", PageClass::kNoise},
        {"faint", PageClass::kFaint},
        {"verso", PageClass::kVerso},
        {"border", PageClass::kBorder},
        {"texture", PageClass::kTexture},
        {"thin", PageClass::kThin},
        {"dark-beside-faint", PageClass::kDarkBesideFaint},
        {"photo", PageClass::kPhoto},
        {"book-edge", PageClass::kBookEdge},
        {"stains", PageClass::kStains},
        {"table-header", PageClass::kTableHeader}};
    for (const auto& [known, value] : kNames) {
        if (name == known) {
            pageClass = value;
            return true;
        }
    }
    return false;
}

void GenerateClassPage(const PageOptions& options, PageClass pageClass, const std::string& fontDir,
                       cv::Mat& page, cv::Mat& truth, std::string& text) {
    CV_Assert(options.width >= 600 && options.height >= 300);
    const double difficulty = std::min(1.0, std::max(0.0, options.difficulty));
    const cv::Size size(options.width, options.height);
    const double scale = std::min(1.0, options.width / 1200.0 + 0.25);

    PageRandom textRandom(options.seed, kTextStream);
    const ClassTextStyle style = ChooseClassStyle(textRandom, pageClass, scale);
    text.clear();
    std::vector<int> lineTops;
    const cv::Mat ink = DrawWordLines(textRandom, style, fontDir, size, text, lineTops);
    cv::bitwise_not(ink, truth);

    PageRandom paperRandom(options.seed, kPaperStream);
    cv::Mat paper = PlainPaper(paperRandom, size);
    PageRandom inkRandom(options.seed, kInkStream);
    double inkGrey = inkRandom.Uniform(15.0, 55.0);
    // How dark each ink pixel is, 1 = inkGrey, 0 = paper.
    cv::Mat coverage;
    ink.convertTo(coverage, CV_32F, 1.0 / 255.0);
    cv::Mat strength = coverage.clone();
    double noiseSigma = 3.0;
    double blurSigma = inkRandom.Uniform(0.6, 0.9);
    // Share of the composed page's grey kept under stains that darken ink and paper.
    cv::Mat kept;

    switch (pageClass) {
        case PageClass::kNoise:
            noiseSigma = 4.0 + 20.0 * difficulty;
            blurSigma = inkRandom.Uniform(0.7, 1.0);
            break;
        case PageClass::kFaint: {
            // Faint ink is given as a depth below the paper, as a reader sees it.
            const double faintDepth = inkRandom.Uniform(40.0, 70.0) - 25.0 * difficulty;
            const int darkLines = inkRandom.Integer(1, 3);
            const int faintFrom =
                lineTops.size() > static_cast<size_t>(darkLines)
                    ? lineTops[static_cast<size_t>(darkLines)] - style.fontHeight / 3
                    : size.height;
            const double paperMean = cv::mean(paper)[0];
            const double share = faintDepth / std::max(1.0, paperMean - inkGrey);
            strength.rowRange(faintFrom, size.height) *= share;
            break;
        }
        case PageClass::kVerso: {
            PageRandom versoRandom(options.seed, kVersoStream);
            const double depth = versoRandom.Uniform(35.0, 55.0);
            const cv::Mat verso = VersoDarkness(versoRandom, fontDir, size);
            paper -= verso * depth;
            break;
        }
        case PageClass::kBorder: {
            PageRandom borderRandom(options.seed, kBorderStream);
            AddBordersAndShadow(borderRandom, paper);
            break;
        }
        case PageClass::kTexture: {
            PageRandom stainRandom(options.seed, kStainStream);
            paper += FibreTexture(paperRandom, size, 3.0 + 6.0 * difficulty);
            paper = paper.mul(1.0 - MakeStains(stainRandom, size, 0.4 + 0.6 * difficulty));
            // Pencil: light and grainy, darker where the grain catches the graphite.
            const double pencilDepth = inkRandom.Uniform(55.0, 95.0) - 20.0 * difficulty;
            inkGrey = cv::mean(paper)[0] - pencilDepth;
            cv::Mat grain = SmoothField(inkRandom, size, std::max(8, size.width / 6), 0.55, 1.0);
            strength = strength.mul(grain);
            noiseSigma = 4.0;
            break;
        }
        case PageClass::kThin:
            blurSigma = inkRandom.Uniform(0.5, 0.8);
            break;
        case PageClass::kDarkBesideFaint:
            FadeSomeLines(inkRandom, lineTops, style.fontHeight, strength);
            break;
        case PageClass::kPhoto: {
            PageRandom photoRandom(options.seed, kBorderStream);
            EraseText(PastePhoto(photoRandom, paper), strength, truth);
            break;
        }
        case PageClass::kBookEdge: {
            PageRandom borderRandom(options.seed, kBorderStream);
            AddBordersAndShadow(borderRandom, paper);
            EraseText(AddBookEdge(borderRandom, paper), strength, truth);
            break;
        }
        case PageClass::kStains: {
            PageRandom stainRandom(options.seed, kStainStream);
            cv::Mat stains =
                MakeStains(stainRandom, size, 1.0) + MakeStains(stainRandom, size, 1.0);
            cv::min(stains * (1.5 + difficulty), 0.8, stains);
            kept = 1.0 - stains;
            break;
        }
        case PageClass::kTableHeader:
            RuleTable(inkRandom, lineTops, style.fontHeight, strength, truth);
            break;
    }

    const cv::Mat contrast = paper - inkGrey;
    cv::Mat composed = paper - contrast.mul(strength);
    if (!kept.empty()) {
        composed = composed.mul(kept);
    }
    cv::GaussianBlur(composed, composed, cv::Size(), blurSigma);
    PageRandom noiseRandom(options.seed, kNoiseStream);
    AddNoise(noiseRandom, noiseSigma, composed);
    composed.convertTo(page, CV_8U);
}

void GeneratePage(const PageOptions& options, cv::Mat& page, cv::Mat& truth) {
    const double difficulty = std::min(1.0, std::max(0.0, options.difficulty));
    const cv::Size size(options.width, options.height);

    PageRandom textRandom(options.seed, kTextStream);
    InkLayer ink = MakeTextLayer(textRandom, size, 0.05 + 0.35 * difficulty);
    cv::bitwise_not(ink.mask, truth);

    PageRandom inkRandom(options.seed, kInkStream);
    const double fadeFloor = 1.0 - difficulty * inkRandom.Uniform(0.2, 0.5);
    ink.strength = ink.strength.mul(SmoothField(inkRandom, size, 6, fadeFloor, 1.0));
    const double inkGrey = inkRandom.Uniform(10.0, 60.0 + 50.0 * difficulty);

    PageRandom paperRandom(options.seed, kPaperStream);
    const cv::Mat paper = MakePaper(paperRandom, size, difficulty);
    const cv::Mat bleed = MakeBleedThrough(options, size, difficulty);
    cv::Mat composed = ComposePage(paper, ink, bleed, inkGrey);

    PageRandom stainRandom(options.seed, kStainStream);
    const cv::Mat kept = 1.0 - MakeStains(stainRandom, size, difficulty);
    composed = composed.mul(kept);

    PageRandom finishRandom(options.seed, kFinishStream);
    const double blurSigma = 0.5 + difficulty * finishRandom.Uniform(0.3, 1.0);
    cv::GaussianBlur(composed, composed, cv::Size(), blurSigma);
    PageRandom noiseRandom(options.seed, kNoiseStream);
    AddNoise(noiseRandom, 2.0 + difficulty * finishRandom.Uniform(2.0, 7.0), composed);
    composed.convertTo(page, CV_8U);
    if (finishRandom.Chance(0.2 + 0.6 * difficulty)) {
        page = CompressJpeg(page, finishRandom.Integer(50, 90) - static_cast<int>(difficulty * 20));
    }
}
