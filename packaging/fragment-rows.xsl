<?xml version="1.0" encoding="utf-8"?>
<!-- What a fragment declares, one line a row, whichever WiX generation it is written for:
       part=rows        the namespace, the Binary, each CustomAction (binary, entry point, context,
                        impersonation, return handling) and each sequence entry (number, condition,
                        from a Condition attribute or from the element's text)
       part=vocabulary  each element with each of its attributes, and each element with text in it
     The part is given with xsltproc's stringparam option. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:param name="part" select="'rows'" />
  <xsl:output method="text" />
  <xsl:variable name="nl" select="'&#10;'" />

  <xsl:template match="/">
    <xsl:choose>
      <xsl:when test="$part = 'vocabulary'">
        <xsl:for-each select="//*">
          <xsl:value-of select="concat(local-name(), $nl)" />
          <xsl:for-each select="@*">
            <xsl:value-of select="concat(local-name(..), '@', local-name(), $nl)" />
          </xsl:for-each>
          <xsl:if test="normalize-space(text()) != ''">
            <xsl:value-of select="concat(local-name(), ' has text', $nl)" />
          </xsl:if>
        </xsl:for-each>
      </xsl:when>
      <xsl:otherwise>
        <xsl:value-of select="concat('namespace ', namespace-uri(/*), $nl)" />
        <xsl:for-each select="//*[local-name() = 'Binary']">
          <xsl:value-of select="concat('Binary ', @Id, ' ', @SourceFile, $nl)" />
        </xsl:for-each>
        <xsl:for-each select="//*[local-name() = 'CustomAction']">
          <xsl:value-of select="concat('CustomAction ', @Id, ' binary=', @BinaryRef, @BinaryKey, ' entry=', @DllEntry,
                                       ' execute=', @Execute, ' impersonate=', @Impersonate, ' return=', @Return, $nl)" />
        </xsl:for-each>
        <xsl:for-each select="//*[local-name() = 'InstallExecuteSequence']/*">
          <xsl:value-of select="concat(local-name(), ' ', @Action, ' sequence=', @Sequence,
                                       ' condition=', normalize-space(concat(@Condition, text())), $nl)" />
        </xsl:for-each>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>
</xsl:stylesheet>
