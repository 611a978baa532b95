#include "prep/conventions.h"

#include <algorithm>
#include <array>

namespace parclas::prep {
namespace {

// Accented letters U+00C0..U+00FF as their plain lowercase letters.
constexpr std::string_view kFolded[64] = {
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",   // C0..CF
    "d", "n", "o", "o", "o", "o", "o",  "",  "o", "u", "u", "u", "u", "y", "th", "ss",  // D0..DF
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",   // E0..EF
    "d", "n", "o", "o", "o", "o", "o",  "",  "o", "u", "u", "u", "u", "y", "th", "y"};  // F0..FF

bool dropped(char c) { return c == ' ' || c == '\t' || c == '_' || c == '.' || c == '-' || c == '/' || c == '#'; }

constexpr std::string_view kIdNames[] = {
    "id", "animal", "animalid", "animalno", "animalnr", "animalnumber", "animalcode", "ident", "identifier",
    "indiv", "individual", "label", "calf", "cow", "pig", "ani", "eartag", "tag", "name",
    // German
    "tier", "tierid", "tiernr", "tiernummer", "ohrmarke", "ohrmarkennr", "ohrmarkennummer", "lom", "lomnr",
    "lebensnummer", "kuh", "kalb",
    // French
    "identifiant", "individu", "numeroanimal", "numanimal", "numeronational", "numero",
    // Spanish
    "individuo", "identificacion", "idanimal", "numerodeanimal", "arete", "codigo",
    // Italian
    "animale", "idanimale", "matricola", "codiceanimale", "codice",
    // Dutch
    "dier", "diernummer", "diernr", "levensnummer", "werknummer",
    // Danish, Norwegian, Swedish, Finnish
    "dyr", "dyrnr", "djur", "djurnr", "individ", "individnr", "elain", "yksilo", "tunnus"};

constexpr std::string_view kSireNames[] = {
    "sire", "sireid", "sireno", "sirenr", "father", "fatherid", "bull",
    "vater", "vaterid", "vaternr", "vatertier", "stier",  // German
    "pere", "idpere", "numeropere", "taureau",            // French
    "padre", "idpadre", "toro",                           // Spanish, Italian
    "vader", "vadernr", "vaderdier",                      // Dutch
    "far", "fader", "farnr", "tyr", "isa", "isanro",      // Nordic
    "s"};

constexpr std::string_view kDamNames[] = {
    "dam", "damid", "damno", "damnr", "mother", "motherid",
    "mutter", "mutterid", "mutternr", "muttertier",  // German
    "mere", "idmere", "numeromere",                  // French
    "madre", "idmadre",                              // Spanish, Italian
    "moeder", "moedernr", "moederdier",              // Dutch
    "mor", "moder", "mornr", "ema", "emanro",        // Nordic
    "d"};

constexpr std::string_view kBirthNames[] = {
    "birth", "born", "birthyear", "byear", "yob", "birthdate", "bdate", "dob", "dateofbirth", "yearofbirth",
    "birthday", "year",
    // German
    "geburt", "geboren", "geb", "gebjahr", "geburtsjahr", "geburtsdatum", "gebdatum", "gebdat", "jahr",
    // French
    "naissance", "datenaissance", "datedenaissance", "anneenaissance", "anneedenaissance", "ne", "annee",
    // Spanish
    "nacimiento", "fechanacimiento", "fechadenacimiento", "anonacimiento", "anodenacimiento", "nacido", "ano",
    // Italian
    "nascita", "datanascita", "datadinascita", "annonascita", "annodinascita", "nato", "anno",
    // Dutch
    "geboortedatum", "geboortejaar", "geboortedag", "jaar",
    // Danish, Norwegian, Swedish, Finnish
    "fodt", "fodselsdato", "fodselsar", "fodselsaar", "fodd", "fodelsedatum", "fodelsear", "fodelsedag", "ar",
    "syntynyt", "syntymavuosi", "syntymaaika", "syntymapaiva"};

constexpr std::string_view kUnknownCodes[] = {"", "0", "NA", "N/A", ".", "-", "?", "NULL", "unknown", "unk", "none"};

// Compared in lowercase; "0" stands for zeros only and is checked apart.
constexpr std::string_view kUnknownLower[] = {"na", "n/a", ".", "-", "?", "null", "unknown", "unk", "none"};
constexpr size_t kLongestCode = 7;

constexpr std::string_view kCodeLike[] = {
    "nan", "missing", "<na>", "na.", "n.a.", "n.a", "#n/a", "nil", "void", "leer", "unbekannt", "inconnu",
    "desconocido", "sconosciuto", "onbekend", "ukendt", "ukjent", "okand", "tuntematon"};

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool zeros_only(std::string_view s) { return s.find_first_not_of('0') == std::string_view::npos; }

}  // namespace

std::string_view role_name(Role r) {
  switch (r) {
    case Role::Id: return "id";
    case Role::Sire: return "sire";
    case Role::Dam: return "dam";
    case Role::Birth: break;
  }
  return "birth";
}

std::string normalized_name(std::string_view name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c < 0x80) {
      if (!dropped(static_cast<char>(c))) out.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
      continue;
    }
    unsigned code = c;  // Latin-1, unless a UTF-8 sequence of U+0080..U+00FF
    if ((c == 0xC2 || c == 0xC3) && i + 1 < name.size() && (static_cast<unsigned char>(name[i + 1]) & 0xC0) == 0x80) {
      code = (c & 0x1Fu) << 6 | (static_cast<unsigned char>(name[++i]) & 0x3Fu);
    }
    if (code >= 0xC0) out.append(kFolded[code - 0xC0]);
  }
  return out;
}

std::span<const std::string_view> names_of(Role r) {
  switch (r) {
    case Role::Id: return kIdNames;
    case Role::Sire: return kSireNames;
    case Role::Dam: return kDamNames;
    case Role::Birth: break;
  }
  return kBirthNames;
}

std::optional<Role> role_of(std::string_view header_name, bool one_letter) {
  const std::string n = normalized_name(header_name);
  if (n.size() < 2 && !one_letter) return std::nullopt;
  for (const Role r : kRoles) {
    const auto names = names_of(r);
    if (std::find(names.begin(), names.end(), n) != names.end()) return r;
  }
  return std::nullopt;
}

void UnknownCodes::add(std::string_view code) { added_.push_back(lower(code)); }

bool UnknownCodes::listed(std::string_view field) const {
  if (field.empty()) return true;
  // Most fields are identifiers and numbers: no default code starts like them.
  const char c0 = field[0];
  if (added_.empty() && c0 != 'n' && c0 != 'N' && c0 != 'u' && c0 != 'U' && c0 != '.' && c0 != '-' && c0 != '?') {
    return false;
  }
  if (field.size() <= kLongestCode || !added_.empty()) {
    char buffer[kLongestCode];
    const bool fits = field.size() <= kLongestCode;
    if (fits) {
      for (size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        buffer[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
      }
      const std::string_view l(buffer, field.size());
      for (const auto code : kUnknownLower) {
        if (l == code) return true;
      }
    }
    if (!added_.empty()) {
      const std::string l = lower(field);
      for (const auto& code : added_) {
        if (l == code) return true;
      }
    }
  }
  return false;
}

bool UnknownCodes::parent(std::string_view field) const { return zeros_only(field) || listed(field); }

bool UnknownCodes::value(std::string_view field) const { return listed(field); }

std::span<const std::string_view> default_unknown_codes() { return kUnknownCodes; }

bool looks_like_unknown_code(std::string_view id) {
  if (std::none_of(id.begin(), id.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               static_cast<unsigned char>(c) >= 0x80;
      })) {
    return true;
  }
  const std::string n = normalized_name(id);
  if (std::find(std::begin(kCodeLike), std::end(kCodeLike), lower(id)) != std::end(kCodeLike) ||
      std::find(std::begin(kCodeLike), std::end(kCodeLike), n) != std::end(kCodeLike)) {
    return true;
  }
  // A number not above 0: -1, -9, 0.0, 0,0.
  if (id.find_first_not_of("+-0123456789.,") != std::string_view::npos) return false;
  if (id.find_first_of("0123456789") == std::string_view::npos) return false;
  return id.front() == '-' || id.find_first_not_of("+0.,") == std::string_view::npos;
}

std::vector<std::string> parclas_output_names() {
  // PARCLAS's output prefixes: the class pedigree and class identifier files
  // and the pedigree coefficient file after the relationship file, the new
  // parameter file after the parameter file, the recoded data after the data.
  std::vector<std::string> names;
  for (const std::string_view prefix : {"domd", "domid", "d"}) names.push_back(std::string(prefix).append(kPedigreeOut));
  names.push_back(std::string("dom").append(kParameterOut));
  names.push_back(std::string("domrec").append(kDataOut));
  return names;
}

}  // namespace parclas::prep
