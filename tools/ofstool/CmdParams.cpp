// ofstool params [--json] [FILE]: the parameter record that a parameter text
// (or, without FILE, the built-in text) gives; --write-default PATH writes the
// default parameter file.
#include <cstdio>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "drive/IdentityText.h"
#include "ofstool/Commands.h"
#include "ofstool/JsonWriter.h"
#include "params/Parameter.h"
#include "params/RegularFile.h"

namespace ofstool {

namespace {

using Value = std::variant<bool, int64_t, std::string>;

struct Field {
  const char* name;
  Value value;
};

struct Section {
  const char* name;
  std::vector<Field> fields;
};

struct ListSection {
  const char* name;
  const std::vector<std::string>& lines;
};

// The record's scalar fields by section, in the record's order; both outputs use it.
std::vector<Section> ScalarSections(const ofs::SParameter& p) {
  const auto& m = p.Main;
  const auto& d = p.ArgumentDefault;
  const auto& e = p.ArgumentEnabled;
  const auto& o = p.OtherSettings;
  return {
      {"Main",
       {{"Updater", m.Updater}, {"ShowCaption", m.ShowCaption}, {"ProgramName", m.ProgramName},
        {"ShowVersion", m.ShowVersion}, {"ShowDate", m.ShowDate}}},
      {"ArgumentDefault",
       {{"s", d.s}, {"k", d.k}, {"u", d.u}, {"i", d.i}, {"n", int64_t{d.n}}, {"a", int64_t{d.a}}, {"y", d.y},
        {"Disable98AutoInsertNotification", d.Disable98AutoInsertNotification}, {"d", d.d}, {"g", d.g},
        {"r", d.r}}},
      {"ArgumentEnabled",
       {{"s", e.s}, {"c", e.c}, {"b", e.b}, {"h", e.h}, {"v", e.v}, {"e", e.e}, {"k", e.k}, {"u", e.u},
        {"i", e.i}, {"n", e.n}, {"a", e.a}, {"p", e.p}, {"m", e.m}, {"o", e.o}, {"f", e.f}, {"t", e.t},
        {"y", e.y}, {"Disable98AutoInsertNotification", e.Disable98AutoInsertNotification}, {"d", e.d},
        {"g", e.g}, {"r", e.r}}},
      {"OtherSettings",
       {{"CheckSum", o.CheckSum}, {"HardwareID", o.HardwareID}, {"ModelName", o.ModelName},
        {"AvailableModel", o.AvailableModel}, {"Verify", o.Verify}, {"NoDisc", o.NoDisc},
        {"ImmediateAtapi", o.ImmediateAtapi}, {"WriteNewCode", o.WriteNewCode},
        {"ErasePadRandom", o.ErasePadRandom}, {"ErasePadChar", int64_t{o.ErasePadChar}}, {"Timer", o.Timer}}},
  };
}

std::vector<ListSection> ListSections(const ofs::SParameter& p) {
  return {{"AvailableModelNames", p.AvailableModelNames},
          {"Title", p.Title},
          {"FlashHelp", p.FlashHelp},
          {"UpdaterHelp", p.UpdaterHelp}};
}

std::string Json(const ofs::SParameter& p) {
  JsonWriter json;
  json.BeginObject();
  for (const Section& section : ScalarSections(p)) {
    json.Key(section.name).BeginObject();
    for (const Field& field : section.fields) {
      json.Key(field.name);
      if (const bool* b = std::get_if<bool>(&field.value)) json.Bool(*b);
      if (const int64_t* n = std::get_if<int64_t>(&field.value)) json.Number(*n);
      if (const std::string* s = std::get_if<std::string>(&field.value)) json.String(*s);
    }
    json.EndObject();
  }
  for (const ListSection& list : ListSections(p)) {
    json.Key(list.name).BeginArray();
    for (const std::string& line : list.lines) json.String(line);
    json.EndArray();
  }
  json.EndObject();
  return json.Text();
}

// Strings quoted (and escaped as in the JSON output) so that trailing spaces show.
std::string Listing(const ofs::SParameter& p) {
  std::string text;
  for (const Section& section : ScalarSections(p)) {
    text += std::string(section.name) + ":\n";
    for (const Field& field : section.fields) {
      text += "  " + std::string(field.name) + " = ";
      if (const bool* b = std::get_if<bool>(&field.value)) text += *b ? "true" : "false";
      if (const int64_t* n = std::get_if<int64_t>(&field.value)) text += std::to_string(*n);
      if (const std::string* s = std::get_if<std::string>(&field.value)) text += JsonString(*s);
      text += '\n';
    }
  }
  for (const ListSection& list : ListSections(p)) {
    text += std::string(list.name) + ": " + std::to_string(list.lines.size()) + " line(s)\n";
    for (const std::string& line : list.lines) text += "  " + JsonString(line) + '\n';
  }
  return text;
}

int Usage() {
  std::fprintf(stderr, "usage: ofstool params [--json] [FILE]\n       ofstool params --write-default PATH\n");
  return 2;
}

}  // namespace

int RunParams(const Words& words) {
  bool json = false;
  std::optional<std::string> file;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const Word& word = words[i];
    if (word.option && word.text == "--write-default") {
      if (i + 2 != words.size()) return Usage();
      const std::string& path = words[i + 1].text;
      const std::string error = ofs::WriteDefaultParameterFile(path);
      if (error.empty()) return 0;
      std::fprintf(stderr, "ofstool params: cannot write %s: %s\n", ofs::ShownName(path).c_str(), error.c_str());
      return 1;
    }
    if (word.option && word.text == "--json") {
      json = true;
    } else if (word.option || file) {
      return Usage();
    } else {
      file = word.text;
    }
  }
  std::vector<uint8_t> text;  // empty: the built-in text
  if (file) {
    std::string problem;
    std::optional<std::vector<uint8_t>> bytes = ofs::ReadRegularFile(*file, problem, UINT32_MAX);
    if (!bytes) {
      std::fprintf(stderr, "ofstool params: cannot read %s: %s\n", ofs::ShownName(*file).c_str(), problem.c_str());
      return 1;
    }
    text = std::move(*bytes);
    // A firmware file or any other text without one would list the defaults as if the file had set them.
    if (!ofs::HoldsParameterSection(text)) {
      std::fprintf(stderr, "ofstool params: %s holds no parameter section; the values shown are the defaults\n",
                   file->c_str());
    }
  }
  ofs::SParameter parameter;
  ofs::ReadParameterBlock(text, parameter);
  const std::string out = json ? Json(parameter) : Listing(parameter);
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

}  // namespace ofstool
