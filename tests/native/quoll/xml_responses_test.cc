// Parsing the service's documents and building ours, including keys that
// need escaping and documents that are not what they claim.
#include <gtest/gtest.h>

#include "XmlResponses.h"

namespace ovk::quoll {
namespace {

TEST(XmlResponses, ParsesListObjectsV2Page) {
  const std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<ListBucketResult xmlns="http://s3.amazonaws.com/doc/2006-03-01/">
  <Name>bkt</Name><Prefix>d/</Prefix><KeyCount>3</KeyCount>
  <IsTruncated>true</IsTruncated>
  <NextContinuationToken>tok/en==</NextContinuationToken>
  <Contents><Key>d/a &amp; b</Key><LastModified>2024-01-02T03:04:05.678Z</LastModified>
    <ETag>"x"</ETag><Size>12</Size></Contents>
  <Contents><Key>d/&#233;t&#233;</Key><LastModified>2024-01-02T03:04:05Z</LastModified>
    <Size>0</Size></Contents>
  <CommonPrefixes><Prefix>d/sub/</Prefix></CommonPrefixes>
</ListBucketResult>)";
  ListPage page;
  ASSERT_TRUE(parseListObjectsV2(xml, &page));
  ASSERT_EQ(page.objects.size(), 2u);
  EXPECT_EQ(page.objects[0].key, "d/a & b");
  EXPECT_EQ(page.objects[0].size, 12);
  EXPECT_EQ(page.objects[0].mtimeMs, 1704164645678);
  EXPECT_EQ(page.objects[1].key, "d/\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(page.objects[1].mtimeMs, 1704164645000);
  ASSERT_EQ(page.commonPrefixes.size(), 1u);
  EXPECT_EQ(page.commonPrefixes[0], "d/sub/");
  EXPECT_TRUE(page.truncated);
  EXPECT_EQ(page.nextContinuationToken, "tok/en==");
}

TEST(XmlResponses, ParsesErrorDocument) {
  ServiceError error;
  ASSERT_TRUE(parseError(
      "<Error><Code>NoSuchKey</Code><Message>The specified key does not "
      "exist.</Message><RequestId>tx0001</RequestId></Error>",
      &error));
  EXPECT_EQ(error.code, "NoSuchKey");
  EXPECT_EQ(error.message, "The specified key does not exist.");
  EXPECT_EQ(error.requestId, "tx0001");
}

TEST(XmlResponses, RejectsWhatIsNotTheExpectedDocument) {
  ListPage page;
  std::string uploadId;
  std::string etag;
  ServiceError error;
  const std::string errorDoc = "<Error><Code>InternalError</Code></Error>";
  EXPECT_FALSE(parseListObjectsV2("", &page));
  EXPECT_FALSE(parseListObjectsV2("<ListBucketResult>", &page));
  EXPECT_FALSE(parseListObjectsV2(errorDoc, &page));
  EXPECT_FALSE(parseInitiateMultipartUpload(errorDoc, &uploadId));
  // A completion answered with 200 and an error body must not pass as done.
  EXPECT_FALSE(parseCompleteMultipartUpload(errorDoc, &etag));
  EXPECT_FALSE(parseCopyResult(errorDoc, &etag));
  EXPECT_FALSE(parseError("not xml at all", &error));
}

TEST(XmlResponses, ParsesMultipartAndCopyResults) {
  std::string value;
  ASSERT_TRUE(parseInitiateMultipartUpload(
      "<InitiateMultipartUploadResult><Bucket>b</Bucket><Key>k</Key>"
      "<UploadId>2~abc</UploadId></InitiateMultipartUploadResult>",
      &value));
  EXPECT_EQ(value, "2~abc");
  ASSERT_TRUE(parseCopyResult(
      "<CopyPartResult><LastModified>2024-01-01T00:00:00Z</LastModified>"
      "<ETag>&quot;e1&quot;</ETag></CopyPartResult>",
      &value));
  EXPECT_EQ(value, "e1");
  ASSERT_TRUE(parseCompleteMultipartUpload(
      "<CompleteMultipartUploadResult><ETag>\"e2-3\"</ETag>"
      "</CompleteMultipartUploadResult>",
      &value));
  EXPECT_EQ(value, "e2-3");
}

TEST(XmlResponses, ParsesDeleteFailures) {
  std::vector<DeleteFailure> failures;
  ASSERT_TRUE(parseDeleteResult(
      "<DeleteResult><Deleted><Key>a</Key></Deleted><Error><Key>b c</Key>"
      "<Code>AccessDenied</Code><Message>no</Message></Error></DeleteResult>",
      &failures));
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].key, "b c");
  EXPECT_EQ(failures[0].code, "AccessDenied");
}

TEST(XmlResponses, BuildsRequestsWithEscapedKeys) {
  EXPECT_EQ(buildDeleteObjects({"a<b>&\"c'"}),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Delete "
            "xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\"><Quiet>true</Quiet>"
            "<Object><Key>a&lt;b&gt;&amp;&quot;c&apos;</Key></Object></Delete>");
  EXPECT_EQ(buildCompleteMultipartUpload({{1, "e1"}, {2, "e2"}}),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><CompleteMultipartUpload "
            "xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\">"
            "<Part><PartNumber>1</PartNumber><ETag>\"e1\"</ETag></Part>"
            "<Part><PartNumber>2</PartNumber><ETag>\"e2\"</ETag></Part>"
            "</CompleteMultipartUpload>");
}

TEST(XmlResponses, ParsesIsoTimes) {
  EXPECT_EQ(parseIsoTimeMs("1970-01-01T00:00:01.5Z"), 1500);
  EXPECT_EQ(parseIsoTimeMs("garbage"), -1);
}

}  // namespace
}  // namespace ovk::quoll
