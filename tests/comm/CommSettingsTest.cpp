#include "comm/CommSettings.h"

#include <gtest/gtest.h>

namespace {

struct Case {
  const char* text;
  uint32_t baud;
  uint8_t byteSize;
  uint8_t parity;
  uint8_t stopBits;
};

// Starting point that differs from every parsed value, to see what changed.
serial::LineSettings Start() { return serial::LineSettings{1234, 6, serial::MARKPARITY, serial::ONE5STOPBITS}; }

TEST(CommSettingsTest, AcceptsWhatTheWindowAndTheModeCommandWrite) {
  const Case cases[] = {
      {"115200,N,8,1", 115200, 8, serial::NOPARITY, serial::ONESTOPBIT},
      {"9600,e,7,2", 9600, 7, serial::EVENPARITY, serial::TWOSTOPBITS},
      {" 57600 , O , 8 , 1 ", 57600, 8, serial::ODDPARITY, serial::ONESTOPBIT},
      {"250000,S,5,1.5", 250000, 5, serial::SPACEPARITY, serial::ONE5STOPBITS},
      {"96,n,8,1", 9600, 8, serial::NOPARITY, serial::ONESTOPBIT},   // old abbreviation
      {"19,N,8,1", 19200, 8, serial::NOPARITY, serial::ONESTOPBIT},
      {"50,N,8,1", 50, 8, serial::NOPARITY, serial::ONESTOPBIT},     // not an abbreviation
      {"baud=38400 parity=e data=7 stop=2", 38400, 7, serial::EVENPARITY, serial::TWOSTOPBITS},
      {"baud=96", 96, 6, serial::MARKPARITY, serial::ONE5STOPBITS},  // keyed form takes numbers as they are
      // Fields left out or empty keep their value.
      {"4800", 4800, 6, serial::MARKPARITY, serial::ONE5STOPBITS},
      {"4800,,8", 4800, 8, serial::MARKPARITY, serial::ONE5STOPBITS},
  };
  for (const auto& c : cases) {
    auto line = Start();
    ASSERT_TRUE(ParseCommSettings(c.text, line)) << c.text;
    EXPECT_EQ(line.baud, c.baud) << c.text;
    EXPECT_EQ(line.byteSize, c.byteSize) << c.text;
    EXPECT_EQ(line.parity, c.parity) << c.text;
    EXPECT_EQ(line.stopBits, c.stopBits) << c.text;
  }
}

TEST(CommSettingsTest, RefusesMalformedTextAndChangesNothing) {
  const char* bad[] = {"",          "   ",         ",N,8,1",       "0,N,8,1",       "-9600,N,8,1",
                       "9600,X,8,1", "9600,N,9,1", "9600,N,4,1",   "9600,N,8,3",    "9600,N,8,1,p",
                       "96OO,N,8,1", "99999999999,N,8,1", "baud=9600 xon=on", "baud=", "parity=n baud"};
  for (const char* text : bad) {
    auto line = Start();
    EXPECT_FALSE(ParseCommSettings(text, line)) << '"' << text << '"';
    EXPECT_EQ(line.baud, 1234u) << text;
    EXPECT_EQ(line.byteSize, 6) << text;
  }
  auto line = Start();
  EXPECT_FALSE(ParseCommSettings(nullptr, line));
}

}  // namespace
