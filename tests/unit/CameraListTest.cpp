#include "cli/CameraList.h"

#include <gtest/gtest.h>

namespace {

std::vector<TCameraRow> Parse(std::string_view text, std::string* error = nullptr) {
    std::vector<TCameraRow> rows;
    std::string e;
    bool ok = ParseCameraList(text, rows, e);
    EXPECT_EQ(ok, e.empty());
    if (error) *error = e;
    return rows;
}

} // namespace

TEST(CameraList, ColumnsByTheirHeaderInAnyOrderWithDefaultsForEmptyCells) {
    // As a spreadsheet saves it: a byte-order mark, CR LF, quoted cells, a column of notes.
    auto rows = Parse("\xEF\xBB\xBFSeries, IP ,Notes,Port,USER,password\r\n"
                      "h,127.0.0.1,\"hall, east\",8081,op,\"p,\"\"w\"\" \"\r\n"
                      "\r\n"
                      "T,cam-2.local,,,,\r\n");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Camera.Series, 'H');
    EXPECT_EQ(rows[0].Camera.IP, "127.0.0.1");
    EXPECT_EQ(rows[0].Camera.Port, "8081");
    EXPECT_EQ(rows[0].Camera.User, "op");
    EXPECT_EQ(rows[0].Camera.Password, "p,\"w\" ");
    EXPECT_TRUE(rows[0].HasPassword);
    EXPECT_EQ(rows[1].Camera.Port, "81");
    EXPECT_EQ(rows[1].Camera.User, "admin");
    EXPECT_FALSE(rows[1].HasPassword);
    // The search's own CSV is such a list.
    EXPECT_EQ(Parse("type,devType,series,name,ip,port,mac\r\nF,2,F,SIMCAM-F,127.0.0.1,39063,02\r\n").size(),
              1u);
    EXPECT_TRUE(Parse("ip,series\n").empty());
}

TEST(CameraList, WhatIsNoListIsRefusedWithItsLine) {
    std::string error;
    for (std::string_view bad :
         {std::string_view(""), std::string_view("ip,port\n1.2.3.4,81\n"), std::string_view("ip,series,ip\n"),
          std::string_view("ip,series\n\"1.2.3.4,H\n")}) {
        Parse(bad, &error);
        EXPECT_FALSE(error.empty()) << bad;
    }
    Parse("ip,series\n127.0.0.1,H\n127.0.0.1:81/x,H\n", &error);
    EXPECT_EQ(error, "line 3: \"127.0.0.1:81/x\" is no camera address");
    Parse("ip,series\n127.0.0.1,Q\n", &error);
    EXPECT_EQ(error, "line 2: the series \"Q\" is none of E, F, H, T, C, onvif");
    Parse("ip,series\n" + std::string(70000, 'a') + "\n", &error);
    EXPECT_NE(error.find("too long"), std::string::npos);
}

TEST(CameraList, RowsWithoutASeriesAreSkippedWithALineEach) {
    // A search that found a standard camera lists it without a series.
    std::string csv = "type,devType,series,name,ip,port,mac\r\n"
                      "F,2,F,SIMCAM-F,127.0.0.1,39063,02\r\n"
                      "W,12,,Front Door,192.168.1.64,8000,aa\r\n"
                      "H,8,H,SIMCAM-H,127.0.0.2,39064,03\r\n"
                      "W,12, ,Back Door,192.168.1.65,8000,bb\r\n";
    std::vector<TCameraRow> rows;
    std::vector<std::string> skipped;
    std::string error;
    ASSERT_TRUE(ParseCameraList(csv, rows, error, &skipped)) << error;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].Camera.IP, "127.0.0.2");
    EXPECT_EQ(skipped, (std::vector<std::string>{"line 3: 192.168.1.64 has no series: skipped",
                                                 "line 5: 192.168.1.65 has no series: skipped"}));
    // A series that is there but none of the known ones is still refused.
    EXPECT_FALSE(ParseCameraList("ip,series\n127.0.0.1,Q\n", rows, error, &skipped));
}

TEST(CameraList, StandardCamerasAreRowsOfTheSeriesOnvif) {
    auto rows = Parse("ip,port,series\n127.0.0.1,8080,ONVIF\n127.0.0.2,80,onvif\n");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Camera.Series, 'O');
    EXPECT_EQ(rows[1].Camera.Series, 'O');
    std::string error;
    Parse("ip,port,series\n127.0.0.1,8080,O\n", &error);
    EXPECT_EQ(error, "line 2: the series \"O\" is none of E, F, H, T, C, onvif");
}
