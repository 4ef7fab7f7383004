// The maker's name and web site; the pages the dialog opens hang below it.
#pragma once

constexpr char kMakerName[] = "Tarvel Software";
constexpr char kMakerSite[] = "http://www.tarvel-software.com";
